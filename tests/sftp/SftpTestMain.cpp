// The remote-place tests: each suite starts its own private server.
#include <QApplication>
#include <gtest/gtest.h>

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:pa_xmalloc\n"
           "leak:pa_xmalloc0\n"
           "leak:g_malloc\n";
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
