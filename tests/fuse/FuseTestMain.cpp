// The window tests that need a mount of their own. The private mount
// namespace is entered before anything starts a thread.
#include "fuse/SleepyMount.h"

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
    tarnel::test::EnterPrivateMountSpace();
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
