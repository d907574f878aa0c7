// Entry point: the command-line listing, the screenshot run, or the window.
#include "app/CommandLine.h"
#include "app/FindCommand.h"
#include "app/ListCommand.h"
#include "app/MainWindow.h"
#include "app/PrivateMessages.h"
#include "app/ProgramEnd.h"
#include "app/UserMessages.h"
#include "app/components/DisplayCheck.h"
#include "app/components/InstanceBlock.h"
#include "app/components/InstanceChannel.h"
#include "app/components/TerminationSignals.h"
#include "descriptions/Descriptions.h"
#include "platform/Registry.h"
#include "widgets/PaneView.h"

#include <QMessageBox>
#include <QTimer>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QSessionManager>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace tarnel;

namespace {

struct ScreenshotRun {
    std::string file;
    int width = 1000, height = 640;
    std::vector<std::string> places;
    std::string view; // shown in the viewer, the left pane on its directory
};

bool ParseScreenshot(const std::vector<std::string>& args, ScreenshotRun& run)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--screenshot" && i + 1 < args.size()) {
            run.file = args[++i];
        } else if (args[i] == "--size" && i + 1 < args.size()) {
            if (std::sscanf(args[++i].c_str(), "%dx%d", &run.width, &run.height) != 2 || run.width < 200 ||
                run.height < 150)
                return false;
        } else if (args[i] == "--view" && i + 1 < args.size()) {
            run.view = args[++i];
        } else {
            run.places.push_back(args[i]);
        }
    }
    return !run.file.empty() && run.places.size() <= 2;
}

// An independent offscreen run: no instance block, no settings.
int RunScreenshot(int argc, char** argv, const ScreenshotRun& run)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnel");
    // Nobody answers a modal box here: messages go to standard error, and any
    // other dialog is closed as Escape would, so the run always ends.
    SendMessagesToStandardError();
    QTimer dialogs;
    QObject::connect(&dialogs, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            std::cerr << "tarnel: closed the dialog \"" << modal->windowTitle().toStdString() << "\"\n";
            modal->close();
        }
    });
    dialogs.start(100);
    StartOptions options;
    options.independent = true;
    if (!run.places.empty())
        options.leftDir = run.places[0];
    if (run.places.size() > 1)
        options.rightDir = run.places[1];
    MainWindow window(options, nullptr);
    window.resize(run.width, run.height);
    window.show();
    QApplication::processEvents();
    if (!run.view.empty() && !window.ViewPath(run.view)) {
        std::cerr << "tarnel: cannot view " << run.view << "\n";
        return 1;
    }
    // The panes are read on workers: the picture waits until both are filled.
    QElapsedTimer settle;
    settle.start();
    const auto reading = [&window] { return window.LeftPane()->Data().Reading() || window.RightPane()->Data().Reading(); };
    while (settle.elapsed() < 300 || (reading() && settle.elapsed() < 60000))
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!window.grab().save(QFile::decodeName(run.file.c_str()), "PNG")) {
        std::cerr << "tarnel: cannot write " << run.file << "\n";
        return 1;
    }
    return 0;
}

int RunWindow(int argc, char** argv, const std::vector<std::string>& args)
{
    std::string why;
    if (!DisplayReachable(&why)) {
        std::cerr << NoDisplayMessage(why) << "\n";
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnel");
    QApplication::setDesktopFileName("tarnel");
    // Read after Qt has taken its own options out of argv.
    const std::vector<std::string> places = GivenPlaces(std::vector<std::string>(argv + 1, argv + argc), CurrentDirectory());
    // Another instance runs: it goes to the first folder given, else it only comes forward.
    const auto handOver = [&places](InstanceBlock& instance) {
        if (places.empty()) {
            InstanceChannel::Post(UM_RESTORE);
            return;
        }
        instance.WriteShellCall(places.front()); // in place before the message goes out
        InstanceChannel::Post(UM_SHELLCALL);
    };
    QApplication::setWindowIcon(QIcon::fromTheme("tarnel"));
    // SIGTERM and SIGHUP end the run like the end of the desktop session;
    // caught from here on, so that one arriving during start-up still saves.
    TerminationSignals termination;

    InstanceBlock block;
    std::string error;
    if (!block.Open(&error)) {
        // Started from a menu there is no terminal to read: the box says it too.
        std::cerr << "tarnel: " << error << "\n";
        QMessageBox box(QMessageBox::Critical, "Tarnel", QString::fromStdString(error));
        QObject::connect(&termination, &TerminationSignals::received, &box, &QMessageBox::reject);
        box.exec();
        return 1;
    }
    if (block.BlockExists()) {
        // Another instance runs: bring it forward and end, writing nothing.
        handOver(block);
        return 0;
    }
    InstanceChannel channel;
    if (!channel.Listen(&error)) {
        // Two starts at once: the other one got the socket first and is the
        // instance, however far its start has come.
        if (InstanceChannel::Listener(1000)) {
            handOver(block);
            return 0;
        }
        std::cerr << "tarnel: " << error << "\n";
    }
    block.WriteOwnPid();

    // Shown from the loop: the first listings are read while the window is built.
    SetDescriptionNotice([](const std::string& text) {
        const QString shown = QFile::decodeName(QByteArray::fromStdString(text));
        QMetaObject::invokeMethod(qApp, [shown] { ShowPlainMessage(QApplication::activeWindow(), QMessageBox::Warning, shown); },
                                  Qt::QueuedConnection);
    });

    // Settings are read once here and written once when the run ends normally.
    Registry registry;
    const std::vector<std::string> unreadable = registry.Load();
    StartOptions options;
    options.startMinimized = StartHiddenRequested(args);
    options.registry = &registry;
    options.givenPlaces = places;
    MainWindow window(options, &block);
    EndRunOnlyWithMainWindow(&window);
    for (const std::string& message : unreadable) // reported once, from the running loop
        QTimer::singleShot(0, &window, [&window, message] {
            ShowPlainMessage(&window, QMessageBox::Critical, QString::fromStdString(message));
        });
    // Every loop ends, a message box's included: the settings are saved below.
    QObject::connect(&termination, &TerminationSignals::received, &window, [&window] {
        window.ShutdownProgram();
        QCoreApplication::exit(0);
    });
    QObject::connect(&channel, &InstanceChannel::messageReceived, &window,
                     [&window](int message, qint64 wParam, qint64 lParam) {
                         if (message == UM_RESTORE || message == UM_SHELLCALL)
                             PostPrivateMessage(&window, message, qintptr(wParam), qintptr(lParam));
                     });
    // The end of the desktop session closes without asking.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) {
                         window.ShutdownProgram();
                         QCoreApplication::exit(0);
                     });
    window.show();
    const int status = app.exec();
    window.FinishBackgroundOperations();
    window.SaveSettings();
    SetDescriptionNotice(nullptr);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "--list")
            return RunListCommand(args, std::cout, std::cerr);
        if (a == "--find")
            return RunFindCommand(args, std::cout, std::cerr);
        if (a == "--screenshot") {
            ScreenshotRun run;
            if (!ParseScreenshot(args, run)) {
                std::cerr << "usage: tarnel --screenshot FILE.png [--size WxH] [--view PATH] [LEFT_DIR [RIGHT_DIR]]\n";
                return 2;
            }
            return RunScreenshot(argc, argv, run);
        }
    }
    return RunWindow(argc, argv, args);
}
