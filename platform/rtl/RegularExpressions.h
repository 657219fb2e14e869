#pragma once
// Regular expressions over Qt's PCRE2-based QRegularExpression: case-sensitive, leftmost
// first match, look-behind supported.

#include <QString>

class TMatch {
public:
    TMatch() = default;
    TMatch(bool ASuccess, QString AValue) : FSuccess(ASuccess), FValue(std::move(AValue)) {}

    bool Success() const { return FSuccess; }
    // The whole match (what a look-behind tests is not part of it); empty without a match.
    const QString& Value() const { return FValue; }

private:
    bool FSuccess = false;
    QString FValue;
};

class TRegEx {
public:
    TRegEx() = delete;
    // The first match of APattern in AInput, searching from the start. A pattern that does
    // not compile matches nothing.
    static TMatch Match(const QString& AInput, const QString& APattern);
};
