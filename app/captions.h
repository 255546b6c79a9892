// The window is laid out with its Chinese design captions; every set-up
// gives ten controls their English captions.
#pragma once

class TForm1;

void ApplyCaptions(TForm1 &form);
