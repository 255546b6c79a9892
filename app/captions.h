// The window is laid out with its Chinese design captions; every set-up
// gives ten controls their English captions. The window applies them.
#pragma once

#include <QList>
#include <QString>

struct Caption {
    const char *control;  // the control's object name
    QString text;
};

QList<Caption> EnglishCaptions();
