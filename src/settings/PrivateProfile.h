#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>

#include <optional>
#include <vector>

// A private-profile (INI) file held in memory, read and changed by the rules of the Windows
// profile functions: names matched regardless of ASCII case, blanks around names and values
// dropped, the first of duplicate sections and keys wins, and a write changes only the line it
// concerns. Works on the file's bytes: code page 932, or, for a file that came as UTF-16LE, its
// text in UTF-8 that also carries lone surrogates (serialize() turns it back byte for byte).
class PrivateProfile
{
public:
    static PrivateProfile parse(QByteArrayView fileBytes);
    QByteArray serialize() const;

    // True when the file started with the UTF-16LE mark; names and values are then UTF-8 here.
    bool isUtf16() const { return m_utf16; }

    // Text to and from the UTF-8 form of a UTF-16LE file: every UTF-16 unit survives, a lone
    // surrogate as its own three bytes.
    static QByteArray utf16Text(QStringView text);
    static QString fromUtf16Text(QByteArrayView bytes);

    // The value as stored: blanks around it dropped, one pair of enclosing quotes removed. Not
    // capped: the reader's buffer limit is the caller's.
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;

    // Replaces the first such key of the first such section, or adds key and section. The caller
    // keeps CR and LF out of all three.
    void setValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);

    // Blanks of the profile functions: 0x09 to 0x0D, the space and 0x1A.
    static bool isBlank(char c);
    static QByteArrayView trimmed(QByteArrayView s);
    // A trimmed value without one pair of enclosing quotes, as a read hands it out.
    static QByteArrayView unquoted(QByteArrayView trimmedValue);

private:
    enum class Kind { Other, Section, Key };
    struct Line
    {
        QByteArray text;
        QByteArray eol;
        Kind kind = Kind::Other;
        QByteArray name; // folded to upper case
        qsizetype valueStart = 0;
    };

    // The lines from one section line up to the next; the first of them holds the lines before
    // any section, which are never found.
    struct Section
    {
        std::vector<Line> lines;
        // Where each key name first stands, and where a new key goes: after the last key line.
        QHash<QByteArray, size_t> keys;
        size_t afterLastKey = 0;
    };

    void classify(Line &line) const;
    QByteArray fold(QByteArrayView name) const;
    qsizetype findByte(QByteArrayView s, char c, qsizetype from = 0) const;
    // Sorts the lines into sections and indexes them, as a fresh read would.
    void regroup(std::vector<Line> lines);
    const Section *findSection(QByteArrayView section) const;
    Line *lastLine();

    // Sections by name (the first of duplicates), so that a file of tens of thousands of keys
    // costs one lookup per read or write rather than a walk through it.
    std::vector<Section> m_sections;
    QHash<QByteArray, size_t> m_sectionIndex;
    bool m_utf16 = false;
    // The last byte of a UTF-16LE file of odd length: half a unit, kept as the file's end.
    QByteArray m_oddByte;
};
