#pragma once
// Regular expressions over Qt's PCRE2-based QRegularExpression: case-sensitive, leftmost
// first match, look-behind supported.

#include <QString>

class TMatch {
public:
    TMatch() = default;
    explicit TMatch(QString AValue) : FValue(std::move(AValue)) {}

    // The whole match (what a look-behind tests is not part of it); empty without a match.
    const QString& Value() const { return FValue; }

private:
    QString FValue;
};

class TRegEx {
public:
    TRegEx() = delete;
    // The first match of APattern in AInput, searching from the start. A pattern that does
    // not compile matches nothing.
    static TMatch Match(const QString& AInput, const QString& APattern);
};
