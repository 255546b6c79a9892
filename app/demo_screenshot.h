// The scene of the README's picture: the root listed, the PRG folder
// entered and a program read into the memo.
#pragma once

class TForm1;

bool ShowDemoScene(TForm1 &form);
