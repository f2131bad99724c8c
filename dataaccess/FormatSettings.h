#pragma once

#include <QString>

namespace dataaccess {

// The text conventions of every conversion of the layer. They are fixed, not taken
// from the user's locale, so that one file or filter reads the same on every machine.
struct TFormatSettings
{
    QChar DecimalSeparator = QLatin1Char('.');
    QChar DateSeparator = QLatin1Char('-');
    QChar TimeSeparator = QLatin1Char(':');
    // Dates are written year, month, day; times 24-hour.
    QString ShortDateFormat = QStringLiteral("yyyy-mm-dd");
    QString LongTimeFormat = QStringLiteral("hh:nn:ss");
    QString TimeAMString = QStringLiteral("AM");
    QString TimePMString = QStringLiteral("PM");
    // Two-digit years fall within this many years before the current one (0: the current century).
    int TwoDigitYearCenturyWindow = 50;
    QString TrueBoolStr = QStringLiteral("True");
    QString FalseBoolStr = QStringLiteral("False");
};

// The settings in force (read-only by convention; tests may change a copy).
const TFormatSettings &FormatSettings();

} // namespace dataaccess

using dataaccess::FormatSettings;
using dataaccess::TFormatSettings;
