#include "app/message_log.h"

#include <QDateTime>
#include <QTextBlock>

namespace {
// The stamp and the two blanks after it.
constexpr int kStampLength = 21;
// Old lines go first: a link that fails for hours must not fill the memory.
constexpr int kMaxLines = 5000;
}  // namespace

MessageLog::MessageLog(QWidget *parent) : QPlainTextEdit(parent) {
    setObjectName(QStringLiteral("MessageLog"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(kMaxLines);
}

void MessageLog::AddLine(const QString &text) {
    appendPlainText(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                    QStringLiteral("  ") + text);
}

QStringList MessageLog::Texts() const {
    QStringList lines;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (!block.text().isEmpty()) lines.append(block.text().mid(kStampLength));
    }
    return lines;
}
