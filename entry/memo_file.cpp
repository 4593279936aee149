#include "entry/memo_file.h"

#include "store/gbk.h"

QString withCrLf(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r')) {
            out += QLatin1String("\r\n");
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\r\n");
        } else {
            out += c;
        }
    }
    return out;
}

MemoFileText memoTextOf(const QByteArray &bytes)
{
    MemoFileText r;
    qsizetype bad = -1;
    const std::optional<QString> decoded = Gbk::decodeExact(bytes, &bad);
    if (!decoded) {
        // Shown with substitutes, the note would be saved back changed: it is not loaded at all.
        r.why = bad == bytes.size() - 1
                    ? QStringLiteral("文件末尾的最后一个字不完整")
                    : QStringLiteral("从第 %1 个字节起有 GBK 不能解读的内容").arg(bad + 1);
        return r;
    }
    r.ok = true;
    r.text = withCrLf(*decoded);
    return r;
}
