#include "FrameChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "FrameTimes.h"
#include "Pictures.h"

namespace fxplayer {

namespace {

constexpr int kScale = 2;
constexpr int kLine = kGlyphHeight * kScale + 6;
constexpr int kLeft = 110;
constexpr int kRight = 30;
constexpr int kTitleTop = 12;
constexpr int kMarkerTop = kTitleTop + 2 * kLine + 10;
constexpr int kPlotTop = kMarkerTop + 2 * kLine + 6;
constexpr int kPlotHeight = 440;
constexpr int kPlotBottom = kPlotTop + kPlotHeight;
constexpr int kLegendTop = kPlotBottom + 2 * kLine + 12;
constexpr int kLegendColumns = 2;
constexpr int kLegendRows = 12;
// Below a microsecond a frame is drawn as nothing.
constexpr double kFloorMs = 0.001;

const Rgba kBackground{32, 32, 36, 255};
const Rgba kPlotBackground{22, 22, 26, 255};
const Rgba kGrid{70, 70, 78, 255};
const Rgba kText{230, 230, 230, 255};
const Rgba kDim{150, 150, 160, 255};
const Rgba kWithin{110, 220, 140, 255};
const Rgba kWithinBar{40, 80, 56, 255};
const Rgba kOver{235, 85, 70, 255};
const Rgba kBudget{245, 200, 60, 255};
const Rgba kEvent{110, 160, 255, 255};
const Rgba kEventLine{60, 90, 150, 255};

std::string Upper(const std::string& text) {
    // The font draws small letters as capitals, but for s and x: keep those readable as words.
    std::string upper = text;
    for (char& c : upper)
        if (c == 's' || c == 'x')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

std::string DecadeLabel(int exponent) {
    char text[32];
    if (exponent >= 0) {
        std::snprintf(text, sizeof text, "%.0f", std::pow(10.0, exponent));
    } else {
        std::snprintf(text, sizeof text, "%.*f", -exponent, std::pow(10.0, exponent));
    }
    return text;
}

// A tick step in seconds that gives at most about a dozen ticks.
double TickStep(double seconds) {
    static const double kSteps[] = {0.1, 0.2, 0.5, 1,   2,    5,    10,   15,   30,
                                    60,  120, 300, 600, 1200, 1800, 3600, 7200, 21600};
    for (double step : kSteps)
        if (seconds / step <= 12.0)
            return step;
    return 43200.0;
}

}  // namespace

Image DrawFrameChart(const FrameTimes& times) {
    const std::vector<ChartColumn>& columns = times.Columns();
    const int plotWidth = static_cast<int>(columns.size());
    const int width = kLeft + plotWidth + kRight;
    const std::vector<ChartEvent>& events = times.Events();
    const size_t legendShown =
        std::min(events.size(), static_cast<size_t>(kLegendColumns * kLegendRows));
    // One column while it holds them all, then both, filled evenly.
    const int rowsPerColumn =
        static_cast<int>(legendShown <= static_cast<size_t>(kLegendRows)
                             ? legendShown
                             : (legendShown + kLegendColumns - 1) / kLegendColumns);
    const int legendRows = rowsPerColumn + (events.size() > legendShown ? 1 : 0);
    const int height = kLegendTop + std::max(1, legendRows) * kLine + 12;
    Image chart(static_cast<unsigned>(width), static_cast<unsigned>(height), kBackground);
    FillRect(chart, kLeft, kPlotTop, plotWidth, kPlotHeight, kPlotBackground);

    const double budget = times.BudgetMs();
    char title[200];
    std::snprintf(title, sizeof title,
                  "MODULE TIME PER FRAME ON THE HOST THREAD - %lld FRAMES AT %d FPS - BUDGET %.1f "
                  "MS A FRAME",
                  times.Frames(), times.Fps(), budget);
    DrawText(chart, kLeft, kTitleTop, title, kScale, kText);
    if (times.WorstFrame() >= 0) {
        char worst[96];
        std::snprintf(worst, sizeof worst, "WORST %.2f MS AT %.3fs", times.WorstMs(),
                      static_cast<double>(times.WorstFrame()) / times.Fps());
        std::string line = worst;
        if (!times.WorstWhat().empty())
            line += " - " + Upper(times.WorstWhat());
        line += " - " + std::to_string(times.OverBudget()) + " OVER BUDGET";
        DrawText(chart, kLeft, kTitleTop + kLine, line, kScale,
                 times.OverBudget() > 0 ? kOver : kWithin);
    }

    // The scale: whole decades from a microsecond to above both the worst frame and the budget.
    const int low = static_cast<int>(std::floor(std::log10(kFloorMs)));
    const double top = std::max(times.WorstMs(), budget) * 1.0001;
    const int high = std::max(low + 1, static_cast<int>(std::ceil(std::log10(top))));
    auto yOf = [&](double ms) {
        double v = (std::log10(std::max(ms, kFloorMs)) - low) / (high - low);
        return kPlotBottom - static_cast<int>(std::lround(v * kPlotHeight));
    };
    auto xOf = [&](double frame) {
        return kLeft +
               static_cast<int>(frame * plotWidth / static_cast<double>(times.FrameCount()));
    };
    for (int e = low; e <= high; ++e) {
        int y = yOf(std::pow(10.0, e));
        FillRect(chart, kLeft, y, plotWidth, 1, kGrid);
        std::string label = DecadeLabel(e);
        DrawText(chart, kLeft - 10 - TextWidth(label, kScale), y - kGlyphHeight * kScale / 2, label,
                 kScale, kDim);
    }
    DrawText(chart, 8, kPlotTop - kLine, "MS", kScale, kDim);

    // Events: a line through the plot, behind the bars, and a number above it, staggered over two
    // rows when close.
    int lastLabelEnd[2] = {-1000, -1000};
    for (size_t i = 0; i < events.size(); ++i) {
        int x = xOf(static_cast<double>(events[i].frame));
        FillRect(chart, x, kPlotTop, 1, kPlotHeight, kEventLine);
        std::string number = std::to_string(i + 1);
        int labelX = x - TextWidth(number, kScale) / 2;
        int row = labelX > lastLabelEnd[0] + 4 ? 0 : labelX > lastLabelEnd[1] + 4 ? 1 : -1;
        if (row < 0)
            continue;  // too crowded to number: the line and the legend still show it
        DrawText(chart, labelX, kMarkerTop + row * kLine, number, kScale, kEvent);
        lastLabelEnd[row] = labelX + TextWidth(number, kScale);
    }

    // Bars: each column the worst frame it covers, dim below a bright top so that the level of
    // ordinary frames reads as a line and the frames over budget stand out whole.
    for (int c = 0; c < plotWidth; ++c) {
        double ms = columns[static_cast<size_t>(c)].ms;
        if (ms < kFloorMs)
            continue;
        int y = yOf(ms);
        bool over = ms > budget;
        FillRect(chart, kLeft + c, y, 1, kPlotBottom - y, over ? kOver : kWithinBar);
        FillRect(chart, kLeft + c, y - 1, 1, 3, over ? kOver : kWithin);
    }

    // The budget, over the bars so that it stays visible.
    int budgetY = yOf(budget);
    for (int x = 0; x < plotWidth; x += 12)
        FillRect(chart, kLeft + x, budgetY, 8, 2, kBudget);
    char budgetText[64];
    std::snprintf(budgetText, sizeof budgetText, "BUDGET %.1f MS", budget);
    DrawText(chart, kLeft + plotWidth - TextWidth(budgetText, kScale) - 4,
             budgetY - kGlyphHeight * kScale - 4, budgetText, kScale, kBudget);

    // The time axis.
    const double seconds = static_cast<double>(times.FrameCount()) / times.Fps();
    const double step = TickStep(seconds);
    for (long long i = 0; i * step <= seconds + 1e-9; ++i) {
        double at = static_cast<double>(i) * step;
        int x = xOf(at * times.Fps());
        FillRect(chart, x, kPlotBottom, 1, 6, kDim);
        char label[32];
        std::snprintf(label, sizeof label, "%gs", at);
        DrawText(chart, x - TextWidth(label, kScale) / 2, kPlotBottom + 10, label, kScale, kDim);
    }

    // The legend.
    const int legendWidth = (width - kLeft) / kLegendColumns;
    for (size_t i = 0; i < legendShown; ++i) {
        int column = static_cast<int>(i) / rowsPerColumn;
        int row = static_cast<int>(i) % rowsPerColumn;
        int x = kLeft + column * legendWidth;
        int y = kLegendTop + row * kLine;
        DrawText(chart, x, y, std::to_string(i + 1), kScale, kEvent);
        char when[48];
        std::snprintf(when, sizeof when, "%.3fs",
                      static_cast<double>(events[i].frame) / times.Fps());
        DrawText(chart, x + 6 * kScale * 4, y, when, kScale, kDim);
        // Cut to the column, so that a long file name does not run into the next one.
        const int textX = x + 6 * kScale * 14;
        size_t fits =
            static_cast<size_t>(std::max(4, (legendWidth - (textX - x) - 16) / (6 * kScale)));
        std::string text = Upper(events[i].text);
        if (text.size() > fits)
            text = text.substr(0, fits - 2) + "..";
        DrawText(chart, textX, y, text, kScale, kText);
    }
    if (events.size() > legendShown) {
        std::string more =
            "AND " + std::to_string(events.size() - legendShown) + " MORE IN FRAMETIMES.CSV";
        DrawText(chart, kLeft, kLegendTop + (legendRows - 1) * kLine, more, kScale, kDim);
    }
    if (events.empty())
        DrawText(chart, kLeft, kLegendTop, "NO SCRIPT EVENTS", kScale, kDim);
    return chart;
}

}  // namespace fxplayer
