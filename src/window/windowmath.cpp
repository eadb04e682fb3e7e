#include "window/windowmath.h"

#include <algorithm>
#include <cmath>

namespace {

// Largest strip width handed out; five of them plus any label position stay far inside int.
constexpr double StripLimit = 67108864.0; // 2^26

// Nearest integer, halves to the even neighbour (std::nearbyint under the default rounding
// mode), limited to +-StripLimit.
int RoundHalfEven(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double rounded = std::nearbyint(value);
    if (rounded > StripLimit) {
        return static_cast<int>(StripLimit);
    }
    if (rounded < -StripLimit) {
        return -static_cast<int>(StripLimit);
    }
    return static_cast<int>(rounded);
}

} // namespace

TStripGeometry LayStrips(int labelLeft, int labelWidth, int digitCount, std::int32_t ackLength,
                         std::int32_t n) {
    const double w = digitCount > 0 ? static_cast<double>(labelWidth) / digitCount : 0.0;

    TStripGeometry g{};
    g.Width[siAck] = RoundHalfEven(ackLength * w);
    g.Width[siStart] = RoundHalfEven(w * 2.0);
    g.Width[siPosition] = RoundHalfEven(n * w);
    g.Width[siStatus] = g.Width[siStart];
    g.Width[siCrc] = RoundHalfEven(w * 6.0);

    g.Left[siAck] = labelLeft;
    for (int i = siStart; i <= siCrc; ++i) {
        g.Left[i] = g.Left[i - 1] + g.Width[i - 1];
    }
    return g;
}

std::int32_t DenominatorForLength(std::int32_t n) {
    if (n <= 0) {
        return 1;
    }
    if (n <= 30) {
        return static_cast<std::int32_t>(std::int32_t{1} << n);
    }
    return MaxDenominator;
}

QString ApplicationTitle(const QString& executablePath) {
    // Both separators count, so that a Windows path gives the same title everywhere.
    const qsizetype slash =
        std::max(executablePath.lastIndexOf(u'/'), executablePath.lastIndexOf(u'\\'));
    QString name = executablePath.mid(slash + 1);
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0) {
        name.truncate(dot);
    }
    if (name.size() > 1) {
        name = name.left(1) + name.mid(1).toLower();
    }
    return name;
}

QString ErrorReportText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') {
        return message + u'.';
    }
    return message;
}
