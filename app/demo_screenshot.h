// The scenes of the README's pictures, on the demo's simulated controller:
//   program   the root listed, the PRG folder entered and a program read
//             into the memo
//   dnc       a DNC run streaming a long program
//   stopped   a DNC run stopped with 停止DNC加工 part way
//   restart   the restart dialog after that stopped run (the picture is the
//             dialog's, not the window's)
//   downloading       a long program being read into the memo
//   refused           the same, with ReadNCDeviceDir pressed meanwhile
//   download-stopped  that download stopped with Escape a quarter of the way
//   download-failed   a listed program read after it went from the controller
#pragma once

#include <QPixmap>
#include <QString>

class TForm1;

// The scene names ShowDemoScene knows.
bool IsDemoScene(const QString &scene);

// Sets the scene up; false when something failed on the way. The DNC
// scenes run the event loop while the program streams.
// `controllerRoot` is the folder the simulated controller serves.
bool ShowDemoScene(TForm1 &form, const QString &scene, const QString &controllerRoot);

// The scene's picture: the window, or the dialog the scene showed.
QPixmap GrabDemoScene(TForm1 &form);
