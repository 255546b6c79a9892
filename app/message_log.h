// The message log beside the memo: link messages (a datagram the network
// refused to send, ...) and the window's own notes, one timestamped line
// each. The memo holds program text only, so nothing here can ever be sent
// to a controller as part of a program.
#pragma once

#include <QPlainTextEdit>

class MessageLog : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MessageLog(QWidget *parent = nullptr);

    // Adds "yyyy-MM-dd HH:mm:ss  text".
    void AddLine(const QString &text);
    // The lines without their time stamps, oldest first.
    QStringList Texts() const;
};
