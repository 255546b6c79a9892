#include "app/gbk_text.h"

#include <QList>
#include <QStringEncoder>

QString FromGbk(const QByteArray &bytes) {
    QStringDecoder decoder("GBK");
    return decoder(bytes);
}

QByteArray ToGbk(const QString &text) {
    QStringEncoder encoder("GBK");
    return encoder(text);
}

QString FirstNonGbkCharacter(const QString &text) {
    QStringEncoder whole("GBK");
    const QByteArray encoded = whole(text);  // the encoder converts when the result is taken
    if (!whole.hasError()) return {};
    // Rare: only now look for the culprit, one character at a time.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        QStringEncoder one("GBK");
        const QByteArray single = one(character);
        if (one.hasError()) return character;
        i += length - 1;
    }
    return QStringLiteral("?");
}

QString NonGbkRefusal(const QString &what, const QString &character) {
    if (character == QChar(QChar::ReplacementCharacter)) {
        // Bytes of a downloaded file that were not GBK text show as this.
        return QStringLiteral("The %1 holds bytes that were not valid GBK text when it was read (shown as \"%2\"); "
                              "they would arrive as '?'. Replace them and try again.")
            .arg(what, character);
    }
    const QString code = QString::number(character.toUcs4().value(0), 16).toUpper().rightJustified(4, QChar('0'));
    return QStringLiteral("The %1 holds the character \"%2\" (U+%3), which the controller's code page (GBK) cannot "
                          "store; it would arrive as '?'. Replace it and try again.")
        .arg(what, character, code);
}

QByteArray MemoTextToGbk(const QString &plainText) {
    QString text = plainText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QChar('\r'), QChar('\n'));
    text.replace(QChar('\n'), QStringLiteral("\r\n"));
    return ToGbk(text);
}

GbkBlockDecoder::GbkBlockDecoder() : decoder_("GBK") {}

QString GbkBlockDecoder::Decode(const char *bytes, qsizetype size) {
    const QString decoded = decoder_(QByteArrayView(bytes, size));
    QString out;
    out.reserve(decoded.size() + 1);
    for (QChar c : decoded) {
        if (pendingCr_) {
            pendingCr_ = false;
            out.append(QChar('\n'));
            if (c == QChar('\n')) continue;
        }
        if (c == QChar('\r')) {
            pendingCr_ = true;
            continue;
        }
        out.append(c);
    }
    return out;
}

QString GbkBlockDecoder::Finish() {
    QString out;
    if (pendingCr_) out.append(QChar('\n'));
    pendingCr_ = false;
    return out;
}
