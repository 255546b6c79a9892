#include "app/demo_screenshot.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <functional>

#include "app/Unit1.h"
#include "app/dialogs.h"
#include "app/escape_key.h"
#include "app/restart_dialog.h"

namespace {

bool SelectItem(TForm1 &form, const QString &caption) {
    const auto found = form.ListView1->findItems(caption, Qt::MatchExactly, kColumnFile);
    if (found.isEmpty()) return false;
    form.ListView1->clearSelection();
    found.first()->setSelected(true);
    form.ListView1->setCurrentItem(found.first());
    form.ListView1Click();
    return true;
}

// The file dialog of a DNC run answers with the scene's program; nothing
// else is asked in these scenes.
class SceneDialogs final : public Dialogs {
public:
    explicit SceneDialogs(QString program) : program_(std::move(program)) {}
    bool Confirm(QWidget *, const QString &, const QString &) override { return true; }
    void Inform(QWidget *, const QString &, const QString &) override {}
    void Error(QWidget *, const QString &, const QString &) override {}
    QString OpenFileName(QWidget *, const QString &, const QString &) override { return program_; }
    QString SaveFileName(QWidget *, const QString &, const QString &) override { return {}; }
    // The restart dialog is shown, drawn and kept as the scene's picture;
    // then cancelled.
    int ExecModal(QDialog *dialog) override {
        if (qobject_cast<RestartDialog *>(dialog) != nullptr) {
            dialog->show();
            QEventLoop loop;
            QTimer::singleShot(300, &loop, &QEventLoop::quit);
            loop.exec();
            picture = dialog->grab();
            dialog->hide();
        }
        return 2;
    }

    QPixmap picture;

private:
    QString program_;
};

// The picture of the last scene that was not the window (an image: a
// pixmap cannot live before the application does).
QImage scenePicture;

// Runs the window's event loop until `done` holds or the limit has passed.
bool RunUntil(const std::function<bool()> &done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs) return false;
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QString WriteSceneProgram() {
    QByteArray program = "%\r\nO0100(FACE MILL PLATE 200X120)\r\nG21 G90 G40 G49 G80\r\nT01 M06\r\nS3000 M03\r\n";
    for (int line = 0; program.size() < 48 * 1024; ++line)
        program += "N" + QByteArray::number(100 + line * 10) + " G01 X" + QByteArray::number(line % 200) + ".000 Y" +
                   QByteArray::number((line / 200) * 4) + ".000 F600\r\n";
    // A second tool part way, so a stopped run has a tool change to go
    // back to.
    program += "G00 Z50.\r\nT02 M06 (DRILL 8.5)\r\nG54 S1200 M03 M08\r\n#100=2 (DEPTH)\r\n";
    for (int line = 0; line < 400; ++line)
        program += "N" + QByteArray::number(90000 + line * 10) + " G81 X" + QByteArray::number(line % 20 * 10) +
                   ". Y" + QByteArray::number(line / 20 * 6) + ". Z-#100 R2. F120\r\n";
    program += "M30\r\n%\r\n";
    const QString path = QDir::current().filePath(QStringLiteral("O0100.NC"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size()) return {};
    return path;
}

bool ShowDncScene(TForm1 &form, bool stop, bool restart = false) {
    const QString program = WriteSceneProgram();
    if (program.isEmpty()) return false;
    SceneDialogs dialogs(program);
    InstallDialogs(&dialogs);
    form.BitBtn11Click();
    // A quarter of the program on its way, as an operator would see it: the
    // bar belongs to the run once its program shows in the memo.
    const bool streaming = RunUntil(
        [&form] {
            const QProgressBar *bar = form.ProgressBar1;
            return !form.Memo1->document()->isEmpty() && bar->maximum() > 1 && bar->value() * 4 >= bar->maximum() &&
                   bar->value() < bar->maximum();
        },
        60000);
    bool ok = streaming;
    if (stop) {
        form.BitBtn12Click();
        ok = ok && RunUntil([&form] { return !form.DncRunning(); }, 60000);
    }
    if (restart && ok) {
        form.RestartDncClick();
        scenePicture = dialogs.picture.toImage();
        ok = !scenePicture.isNull();
    }
    InstallDialogs(nullptr);
    return ok;
}

// Escape as the stopped download's operator presses it, once a quarter of
// the program has arrived.
std::atomic<bool> escapePressed{false};
bool SceneEscape() { return escapePressed.load(); }

bool QuarterArrived(TForm1 &form) {
    const QProgressBar *bar = form.ProgressBar1;
    return bar->maximum() > 1 && bar->value() * 4 >= bar->maximum() && bar->value() < bar->maximum();
}

// A download of a long program on the controller: under way (and, for
// "refused", a listing asked for meanwhile), stopped with Escape, or failed
// because the file went from the controller after it was listed.
bool ShowDownloadScene(TForm1 &form, const QString &scene, const QString &controllerRoot) {
    const QString folder = controllerRoot + QStringLiteral("/PRG/");
    if (scene == QStringLiteral("download-failed")) {
        if (!SelectItem(form, QStringLiteral("O0001.CNC")) || !QFile::remove(folder + QStringLiteral("O0001.CNC")))
            return false;
        form.ReadNcFile(form.DeviceId, form.CurrentNcPath + form.SelectedFileName);
        return RunUntil([&form] { return !form.Busy(); }, 60000) && !form.LastTransfer().whole;
    }
    QByteArray program = "%\r\nO0200(LONG CONTOUR)\r\n";
    for (int line = 0; program.size() < 4 * 1024 * 1024; ++line)
        program += "N" + QByteArray::number(line) + " G01 X" + QByteArray::number(line % 300) + ".125 Y" +
                   QByteArray::number(line % 170) + ".5 F800\r\n";
    QFile file(folder + QStringLiteral("O0200.NC"));
    if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size()) return false;
    file.close();
    form.BitBtn7Click();
    if (!SelectItem(form, QStringLiteral("PRG"))) return false;
    form.ListView1DblClick();
    if (!SelectItem(form, QStringLiteral("O0200.NC"))) return false;
    form.ReadNcFile(form.DeviceId, form.CurrentNcPath + form.SelectedFileName);
    if (!RunUntil([&form] { return QuarterArrived(form); }, 60000)) return false;
    if (scene == QStringLiteral("downloading")) return true;
    if (scene == QStringLiteral("refused")) {
        form.BitBtn7Click();  // ReadNCDeviceDir while the download runs
        return form.Busy();
    }
    SetEscapeHeldOverride(&SceneEscape);
    escapePressed = true;
    const bool ended = RunUntil([&form] { return !form.Busy(); }, 60000);
    SetEscapeHeldOverride(nullptr);
    return ended && !form.LastTransfer().whole;
}

}  // namespace

bool IsDemoScene(const QString &scene) {
    return scene == QStringLiteral("program") || scene == QStringLiteral("dnc") || scene == QStringLiteral("stopped") ||
           scene == QStringLiteral("restart") || scene == QStringLiteral("downloading") ||
           scene == QStringLiteral("refused") || scene == QStringLiteral("download-stopped") ||
           scene == QStringLiteral("download-failed");
}

QPixmap GrabDemoScene(TForm1 &form) { return scenePicture.isNull() ? form.grab() : QPixmap::fromImage(scenePicture); }

bool ShowDemoScene(TForm1 &form, const QString &scene, const QString &controllerRoot) {
    if (scene.startsWith(QStringLiteral("download")) && scene != QStringLiteral("download-failed"))
        return ShowDownloadScene(form, scene, controllerRoot);
    if (scene == QStringLiteral("refused")) return ShowDownloadScene(form, scene, controllerRoot);
    form.BitBtn7Click();
    if (!SelectItem(form, QStringLiteral("PRG"))) return false;
    form.ListView1DblClick();
    if (scene == QStringLiteral("download-failed")) return ShowDownloadScene(form, scene, controllerRoot);
    if (scene == QStringLiteral("dnc")) return ShowDncScene(form, false);
    if (scene == QStringLiteral("stopped")) return ShowDncScene(form, true);
    if (scene == QStringLiteral("restart")) return ShowDncScene(form, true, true);
    if (!SelectItem(form, QStringLiteral("O0001.CNC"))) return false;
    // Read without the confirmation box the double-click asks.
    form.ReadNcFile(form.DeviceId, form.CurrentNcPath + form.SelectedFileName);
    return RunUntil([&form] { return !form.Busy(); }, 60000) && form.LastTransfer().whole;
}
