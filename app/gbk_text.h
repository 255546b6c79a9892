// NC programs and controller file names are 8-bit text in the GBK code page;
// the memo shows them decoded and saving encodes them back with CR LF
// between lines.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

QString FromGbk(const QByteArray &bytes);
QByteArray ToGbk(const QString &text);

// The first character (a surrogate pair kept whole) that GBK has no code
// for, or empty when the whole text fits. ToGbk writes such a character as
// '?', so text holding one cannot be sent or saved unchanged.
QString FirstNonGbkCharacter(const QString &text);
// The refusal a user sees for that character.
QString NonGbkRefusal(const QString &what, const QString &character);

// The memo's text as the controller and local files get it: GBK, lines
// separated by CR LF.
QByteArray MemoTextToGbk(const QString &plainText);

// Decodes a file that arrives in blocks. A two-byte character or a CR LF
// pair cut by a block boundary is completed by the next block; line breaks
// (CR LF, LF or a lone CR) come out as '\n'.
class GbkBlockDecoder {
public:
    GbkBlockDecoder();
    QString Decode(const char *bytes, qsizetype size);
    QString Finish();  // what a trailing half pair left pending

private:
    QStringDecoder decoder_;
    bool pendingCr_ = false;
};
