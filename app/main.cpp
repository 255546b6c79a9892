// dncpanel: moves NC programs between this computer and CNC controllers.
//
//   dncpanel                   the window, address book in the working directory
//   dncpanel --serial DEVICE   also offer and select DEVICE (e.g. /dev/pts/3)
//   dncpanel --net-timeout MS  how long a network try waits for its answer
//                              (default 100; remembered for later starts)
//   dncpanel --demo            against a built-in simulated controller, over
//                              UDP and a pseudo-terminal
//   dncpanel --demo --screenshot FILE [--scene NAME] (the names: demo_screenshot.h)
//                              set a scene up (a program read, a DNC run
//                              streaming, a run stopped) and save the
//                              window as FILE
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "app/Unit1.h"
#include "app/app_settings.h"
#include "journal/journal.h"
#if DNCPANEL_HAVE_DEMO
#include "app/demo_mode.h"
#include "app/demo_screenshot.h"
#include "ncsim/simulator.h"
#endif

namespace {

// Asked only for text: --help and --version are answered without a window
// system, so they work over ssh and in scripts with no display.
bool WantsTextOnly(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) return true;
        }
    }
    return false;
}

void NameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("dncpanel"));
    QCoreApplication::setApplicationName(QStringLiteral("dncpanel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DNCPANEL_VERSION));
}

}  // namespace

int main(int argc, char **argv) {
    std::unique_ptr<QCoreApplication> textOnly;
    std::unique_ptr<QApplication> windowed;
    if (WantsTextOnly(argc, argv)) textOnly = std::make_unique<QCoreApplication>(argc, argv);
    else windowed = std::make_unique<QApplication>(argc, argv);
    QCoreApplication &app = textOnly ? *textOnly : *windowed;
    NameApplication();
    if (windowed) QApplication::setApplicationDisplayName(QString());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Moves NC programs between this computer and CNC controllers."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"), QStringLiteral("Run against a built-in simulated controller."));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Offer and select this serial device."),
                                    QStringLiteral("DEVICE"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("With --demo: show a listing and a program, save the window "
                                                       "as this PNG file and quit."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption netTimeout(QStringLiteral("net-timeout"),
                                        QStringLiteral("How long a try over the network waits for its answer, in "
                                                       "milliseconds (default 100). Remembered for later starts."),
                                        QStringLiteral("MS"));
    const QCommandLineOption scene(QStringLiteral("scene"),
                                   QStringLiteral("With --screenshot: program (default), dnc, stopped or restart."),
                                   QStringLiteral("NAME"), QStringLiteral("program"));
    parser.addOptions({demo, serial, screenshot, netTimeout, scene});
    // --help and --version print and end the program here.
    parser.process(app);
    if (textOnly) return 0;

    int waitMs = 0;
    if (parser.isSet(netTimeout)) {
        bool ok = false;
        waitMs = parser.value(netTimeout).toInt(&ok);
        if (!ok || waitMs < kMinNetWaitMs || waitMs > kMaxNetWaitMs) {
            std::fprintf(stderr, "dncpanel: --net-timeout wants milliseconds from 1 to 600000\n");
            return 2;
        }
    }

    try {
        TForm1Options options;
        options.serialDevice = parser.value(serial);
#if DNCPANEL_HAVE_DEMO
        std::unique_ptr<DemoController> controller;
        if (parser.isSet(demo)) {
            controller = std::make_unique<DemoController>();
            if (parser.isSet(screenshot) && !IsDemoScene(parser.value(scene))) {
                std::fprintf(stderr, "dncpanel: --scene wants program, dnc, stopped, restart, downloading, refused,\n"
                                     "  download-stopped or download-failed\n");
                return 2;
            }
            // The DNC scenes show a run on its way: the controller machines
            // at a pace a picture can catch.
            if (parser.value(scene) != QStringLiteral("program")) controller->SetDncRate(8192);
            QString error;
            if (!controller->Start(&error)) {
                std::fprintf(stderr, "dncpanel: %s\n", qPrintable(error));
                return 1;
            }
            options.udpPort = controller->Port();
            options.serialDevice = controller->SerialDevice();
            // The demo's settings and journal stay in its own folder.
            options.settingsFile = controller->WorkingDirectory() + QStringLiteral("/dncpanel.conf");
            qputenv(journal::kPathVariable, (controller->WorkingDirectory() + QStringLiteral("/journal.tsv")).toLocal8Bit());
        }
#else
        if (parser.isSet(demo)) {
            std::fprintf(stderr, "dncpanel: this build has no simulated controller\n");
            return 1;
        }
#endif
        // A controller farther away than the default wait allows answers too
        // late for every try; its users raise the wait once.
        if (waitMs != 0) OpenAppSettings(options.settingsFile)->setValue(settings_keys::kNetWait, waitMs);
        TForm1 form(options);
        form.show();
#if DNCPANEL_HAVE_DEMO
        if (controller && parser.isSet(screenshot)) {
            const QString file = parser.value(screenshot);
            const QString name = parser.value(scene);
            const QString root = QString::fromStdString(controller->Simulator()->Root());
            QTimer::singleShot(300, &form, [&form, file, name, root] {
                const bool ok = ShowDemoScene(form, name, root) && GrabDemoScene(form).save(file);
                if (!ok) std::fprintf(stderr, "dncpanel: the screenshot failed\n");
                QApplication::exit(ok ? 0 : 1);
            });
        } else if (controller) {
            QTimer::singleShot(0, &form, &TForm1::BitBtn7Click);
        }
#endif
        return app.exec();
    } catch (const std::exception &e) {
        QMessageBox::critical(nullptr, QString(), QString::fromLocal8Bit(e.what()));
        return 1;
    }
}
