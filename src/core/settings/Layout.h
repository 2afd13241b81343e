#pragma once

#include <QMap>
#include <QString>
#include <optional>
#include <span>
#include <vector>

// Sizes, positions, column widths and sort orders of the windows, each a row of whole
// numbers under a name its window chooses ("MainFormGeometry"). Kept apart from the options
// (their own group of the settings file, [Layout]): they are not options, the options
// dialog's Cancel does not undo them, and a value that makes no sense is simply not used.
class TLayoutValues {
public:
    // The numbers stored under Name when there are MinCount to MaxCount of them, each a
    // whole 32-bit number; otherwise nothing (missing, or not numbers at all).
    std::optional<std::vector<int>> Numbers(const QString &Name, int MinCount, int MaxCount) const;
    void SetNumbers(const QString &Name, std::span<const int> Numbers);

    // Every stored value as text ("12 40 570 440"), as the settings file keeps them.
    const QMap<QString, QString> &Values() const { return FValues; }
    void SetValue(const QString &Name, const QString &Text) { FValues.insert(Name, Text); }
    void Clear() { FValues.clear(); }

    bool operator==(const TLayoutValues &) const = default;

private:
    QMap<QString, QString> FValues;
};

// The numbers of a layout text ("12 40 570 440"), or nothing when it holds anything else.
std::optional<std::vector<int>> ParseLayoutNumbers(const QString &Text);
