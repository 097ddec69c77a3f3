#include "app/IniFormat.h"

#include <QStringDecoder>

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
const QString RootSection = QStringLiteral("General");

bool isHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int hexValue(char16_t c)
{
    if (c <= u'9')
        return c - u'0';
    return (c | 0x20) - u'a' + 10;
}

bool isPlainKeyChar(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'-' || c == u'.';
}

void appendEscapedName(QByteArray& out, QStringView name)
{
    for (const QChar qc : name) {
        const char16_t c = qc.unicode();
        if (c == u'/') {
            out += '\\';
        } else if (isPlainKeyChar(c)) {
            out += static_cast<char>(c);
        } else if (c <= 0xFF) {
            out += '%';
            out += HexDigits[c / 16];
            out += HexDigits[c % 16];
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += HexDigits[(c >> shift) & 0xF];
        }
    }
}

QString unescapeName(QStringView name)
{
    if (!name.contains(u'%') && !name.contains(u'\\'))
        return name.toString();
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c == u'\\') {
            out += u'/';
            continue;
        }
        if (c == u'%') {
            const bool wide = i + 1 < name.size() && name[i + 1] == u'U';
            const qsizetype digits = wide ? 4 : 2;
            const qsizetype first = i + (wide ? 2 : 1);
            if (first + digits <= name.size()) {
                char16_t code = 0;
                bool ok = true;
                for (qsizetype d = 0; d < digits && ok; ++d) {
                    const char16_t h = name[first + d].unicode();
                    ok = isHexDigit(h);
                    code = static_cast<char16_t>(code * 16 + (ok ? hexValue(h) : 0));
                }
                if (ok) {
                    out += QChar(code);
                    i = first + digits - 1;
                    continue;
                }
            }
        }
        out += QChar(c);
    }
    return out;
}

// A value as written: "@" doubled at the start, control characters and the quote and
// backslash \-escaped (a hex digit right after a numeric escape escaped too, or it would
// join it), the whole quoted when it holds ; , = or starts or ends with a blank.
void appendEscapedValue(QByteArray& out, QStringView value)
{
    const qsizetype start = out.size();
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    if (value.startsWith(u'@'))
        out += '@';
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if (c == u';' || c == u',' || c == u'=')
            needsQuotes = true;
        if (escapeNextIfDigit && isHexDigit(c)) {
            out += "\\x";
            out += QByteArray::number(c, 16);
            continue;
        }
        escapeNextIfDigit = false;
        switch (c) {
        case u'\0':
            out += "\\0";
            escapeNextIfDigit = true;
            break;
        case u'\a':
            out += "\\a";
            break;
        case u'\b':
            out += "\\b";
            break;
        case u'\f':
            out += "\\f";
            break;
        case u'\n':
            out += "\\n";
            break;
        case u'\r':
            out += "\\r";
            break;
        case u'\t':
            out += "\\t";
            break;
        case u'\v':
            out += "\\v";
            break;
        case u'"':
        case u'\\':
            out += '\\';
            out += static_cast<char>(c);
            break;
        default:
            if (c <= 0x1F) {
                out += "\\x";
                out += QByteArray::number(c, 16);
                escapeNextIfDigit = true;
            } else if (c < 0x80) {
                out += static_cast<char>(c);
            } else {
                // Keep a surrogate pair together so that it encodes as one character.
                const qsizetype length = QChar::isHighSurrogate(c) && i + 1 < value.size() ? 2 : 1;
                out += value.mid(i, length).toUtf8();
                i += length - 1;
            }
        }
    }
    if (needsQuotes ||
        (out.size() > start && (out.at(start) == ' ' || out.at(out.size() - 1) == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

QString unescapeValue(QStringView raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char16_t c = raw[i].unicode();
        if (c == u'"')
            continue; // quotes only group
        if (c != u'\\' || i + 1 == raw.size()) {
            out += QChar(c);
            continue;
        }
        const char16_t e = raw[++i].unicode();
        switch (e) {
        case u'a':
            out += u'\a';
            break;
        case u'b':
            out += u'\b';
            break;
        case u'f':
            out += u'\f';
            break;
        case u'n':
            out += u'\n';
            break;
        case u'r':
            out += u'\r';
            break;
        case u't':
            out += u'\t';
            break;
        case u'v':
            out += u'\v';
            break;
        case u'x': {
            char16_t code = 0;
            while (i + 1 < raw.size() && isHexDigit(raw[i + 1].unicode()))
                code = static_cast<char16_t>(code * 16 + hexValue(raw[++i].unicode()));
            out += QChar(code);
            break;
        }
        default:
            if (e >= u'0' && e <= u'7') {
                char16_t code = static_cast<char16_t>(e - u'0');
                while (i + 1 < raw.size() && raw[i + 1] >= u'0' && raw[i + 1] <= u'7')
                    code = static_cast<char16_t>(code * 8 + (raw[++i].unicode() - u'0'));
                out += QChar(code);
            } else {
                out += QChar(e); // \" \\ \' \? and anything unknown: the character itself
            }
        }
    }
    if (out.startsWith(u'@')) {
        if (out.startsWith(QLatin1String("@@")))
            out.remove(0, 1);
        else if (out == QLatin1String("@Invalid()"))
            out.clear();
        else if ((out.startsWith(QLatin1String("@String(")) ||
                  out.startsWith(QLatin1String("@ByteArray("))) &&
                 out.endsWith(u')'))
            out = out.mid(out.indexOf(u'(') + 1).chopped(1);
    }
    return out;
}

QString decodeLine(QByteArrayView line)
{
    bool ascii = true;
    for (const char c : line) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(line);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(line);
    return utf8.hasError() ? QString::fromLatin1(line) : text;
}

QStringView trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin &&
           (text[end - 1] == u' ' || text[end - 1] == u'\t' || text[end - 1] == u'\r'))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

const QString* IniSection::find(const QString& key) const
{
    const auto it = values.constFind(key);
    return it == values.cend() ? nullptr : &it.value();
}

void IniSection::set(const QString& key, const QString& value)
{
    auto it = values.find(key);
    if (it == values.end()) {
        values.insert(key, value);
        order.append(key);
    } else {
        it.value() = value;
    }
}

void IniSection::remove(const QString& key)
{
    if (values.remove(key))
        order.removeOne(key);
}

SettingPairs IniSection::pairs() const
{
    SettingPairs out;
    out.reserve(order.size());
    for (const QString& key : order)
        out.append({key, values.value(key)});
    return out;
}

const IniSection* IniDocument::find(const QString& section) const
{
    const auto it = map.constFind(section);
    return it == map.cend() ? nullptr : &it.value();
}

IniSection& IniDocument::section(const QString& name)
{
    auto it = map.find(name);
    if (it == map.end()) {
        order.append(name);
        it = map.insert(name, IniSection());
    }
    return it.value();
}

void IniDocument::remove(const QString& section)
{
    if (map.remove(section))
        order.removeOne(section);
}

void IniDocument::replace(const QString& section, const IniSection* contents)
{
    if (contents)
        this->section(section) = *contents;
    else
        remove(section);
}

IniDocument ParseIni(const QByteArray& text)
{
    IniDocument document;
    IniSection* current = nullptr;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        const QByteArrayView bytes(text.constData() + start, end - start);
        start = end + 1;
        const QString decoded = decodeLine(bytes);
        const QStringView line = trimmed(decoded);
        if (line.isEmpty() || line[0] == u';' || line[0] == u'#')
            continue;
        if (line[0] == u'[') {
            if (!line.endsWith(u']'))
                continue;
            // The file's root is "[General]"; a real section of that name is "[%General]".
            const QStringView inside = line.mid(1, line.size() - 2);
            QString name;
            if (inside.compare(QLatin1String("%General"), Qt::CaseInsensitive) == 0)
                name = RootSection;
            else if (inside.compare(RootSection, Qt::CaseInsensitive) != 0)
                name = unescapeName(inside);
            current = &document.section(name);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QString key = unescapeName(trimmed(line.left(eq)));
        if (key.isEmpty())
            continue;
        if (!current)
            current = &document.section(QString());
        current->set(key, unescapeValue(trimmed(line.mid(eq + 1))));
    }
    return document;
}

QByteArray WriteIni(const IniDocument& document)
{
    QByteArray out;
    for (const QString& name : document.sections()) {
        const IniSection* section = document.find(name);
        if (section->isEmpty())
            continue;
        if (!out.isEmpty())
            out += '\n';
        out += '[';
        if (name.isEmpty())
            out += "General";
        else if (name == RootSection)
            out += "%General";
        else
            appendEscapedName(out, name);
        out += "]\n";
        for (const QString& key : section->keys()) {
            appendEscapedName(out, key);
            out += '=';
            appendEscapedValue(out, *section->find(key));
            out += '\n';
        }
    }
    return out;
}
