#include "app/IniFormat.h"

#include <QStringDecoder>
#include <algorithm>
#include <utility>

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
const QString RootSection = QStringLiteral("General");

// The control characters written as a backslash and a letter.
constexpr std::pair<char16_t, char> ControlEscapes[] = {{u'\a', 'a'}, {u'\b', 'b'}, {u'\f', 'f'},
                                                        {u'\n', 'n'}, {u'\r', 'r'}, {u'\t', 't'},
                                                        {u'\v', 'v'}};

char escapeLetter(char16_t control)
{
    for (const auto& [c, letter] : ControlEscapes) {
        if (c == control)
            return letter;
    }
    return 0;
}

char16_t escapedControl(char16_t letter)
{
    for (const auto& [c, l] : ControlEscapes) {
        if (l == letter)
            return c;
    }
    return 0;
}

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

// ASCII that is written as it stands: nothing to escape or quote.
bool isPlainValue(QByteArrayView value)
{
    const auto plain = [](char c) {
        return c >= 0x20 && c < 0x7F && c != '"' && c != '\\' && c != ';' && c != ',' && c != '=';
    };
    return !value.startsWith('@') && !value.startsWith(' ') && !value.endsWith(' ') &&
           std::all_of(value.begin(), value.end(), plain);
}

// A byte array that shows `view` without copying it.
QByteArray rawView(QByteArrayView view)
{
    return QByteArray::fromRawData(view.data(), view.size());
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
        if (const char letter = escapeLetter(c)) {
            out += '\\';
            out += letter;
            continue;
        }
        switch (c) {
        case u'\0':
            out += "\\0";
            escapeNextIfDigit = true;
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
        if (const char16_t control = escapedControl(e)) {
            out += QChar(control);
            continue;
        }
        switch (e) {
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

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.chop(1);
    return text;
}

// A key=value line of ASCII without quotes, escapes, "@" or comments, not a section header.
bool isPlainLine(QByteArrayView line)
{
    qsizetype eq = -1;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (static_cast<unsigned char>(c) >= 0x80 || c == '"' || c == '\\' || c == '%' ||
            c == '@' || (c < 0x20 && c != '\t' && c != '\r'))
            return false;
        if (c == '=' && eq < 0)
            eq = i;
    }
    const char first = trimmed(line).isEmpty() ? ';' : trimmed(line).front();
    return eq > 0 && first != ';' && first != '#' && first != '[' && first != '=';
}

// How many lines follow `from` before the next section header: room to make for keys.
qsizetype linesUntilHeader(const QByteArray& text, qsizetype from)
{
    qsizetype lines = 0;
    for (qsizetype at = from; at < text.size();) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = trimmed(QByteArrayView(text).sliced(at, end - at));
        if (line.startsWith('[') && line.endsWith(']'))
            break;
        ++lines;
        at = end + 1;
    }
    return lines;
}

} // namespace

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
        if (current && isPlainLine(bytes)) {
            // Most lines: ASCII with nothing to unescape, taken without a detour.
            const qsizetype eq = bytes.indexOf('=');
            const QByteArrayView key = trimmed(bytes.first(eq));
            if (!key.isEmpty())
                current->setUtf8(rawView(key), rawView(trimmed(bytes.sliced(eq + 1))));
            continue;
        }
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
            current->keep(text);
            current->reserve(current->size() + linesUntilHeader(text, start) + 16);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QString key = unescapeName(trimmed(line.left(eq)));
        if (key.isEmpty())
            continue;
        if (!current) {
            current = &document.section(QString());
            current->keep(text);
        }
        current->set(key, unescapeValue(trimmed(line.mid(eq + 1))));
    }
    return document;
}

QByteArray WriteIni(const IniDocument& document, qsizetype sizeHint)
{
    QByteArray out;
    out.reserve(sizeHint + sizeHint / 8 + 64);
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
        section->forEachUtf8([&out](const QByteArray& key, const QByteArray& value) {
            if (std::all_of(key.begin(), key.end(), [](char c) { return isPlainKeyChar(c); }))
                out += key;
            else
                appendEscapedName(out, QString::fromUtf8(key));
            out += '=';
            if (isPlainValue(value))
                out += value;
            else
                appendEscapedValue(out, QString::fromUtf8(value));
            out += '\n';
        });
    }
    return out;
}
