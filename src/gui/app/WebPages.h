#pragma once

#include <QString>

// The product's web addresses, in one place so that a packager can change them. The home
// page also answers the "Check New Version" command.
inline const QString HomePageUrl = QStringLiteral("https://brindle.invalid/");
// The maker's other products, listed in the Help menu: caption and address.
struct TOtherProduct {
    QString Caption;
    QString Url;
};
inline const TOtherProduct OtherProducts[] = {
    {QStringLiteral("Brindle &Command Line"), QStringLiteral("https://brindle.invalid/cli/")},
};
