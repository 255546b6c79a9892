#include "gbk_text.h"

#include <QStringEncoder>

QString FromGbk(const QByteArray &bytes) {
    QStringDecoder decoder("GBK");
    return decoder(bytes);
}

QByteArray ToGbk(const QString &text) {
    QStringEncoder encoder("GBK");
    return encoder(text);
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
