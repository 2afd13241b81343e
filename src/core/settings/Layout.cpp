#include "settings/Layout.h"

#include <QStringList>

std::optional<std::vector<int>> ParseLayoutNumbers(const QString &Text) {
    const QStringList Words = Text.split(u' ', Qt::SkipEmptyParts);
    std::vector<int> Numbers;
    Numbers.reserve(size_t(Words.size()));
    for (const QString &Word : Words) {
        bool Ok = false;
        const int Number = Word.toInt(&Ok, 10);
        if (!Ok)
            return std::nullopt;
        Numbers.push_back(Number);
    }
    return Numbers;
}

std::optional<std::vector<int>> TLayoutValues::Numbers(const QString &Name, int MinCount,
                                                       int MaxCount) const {
    const auto Found = FValues.constFind(Name);
    if (Found == FValues.constEnd())
        return std::nullopt;
    std::optional<std::vector<int>> Numbers = ParseLayoutNumbers(*Found);
    if (!Numbers || int(Numbers->size()) < MinCount || int(Numbers->size()) > MaxCount)
        return std::nullopt;
    return Numbers;
}

void TLayoutValues::SetNumbers(const QString &Name, std::span<const int> Numbers) {
    QStringList Words;
    for (const int Number : Numbers)
        Words << QString::number(Number);
    FValues.insert(Name, Words.join(u' '));
}
