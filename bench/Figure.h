#pragma once

#include <cstdio>
#include <cstdlib>
#include <limits>

// One figure of `make bench`: printed beside its anchor and their ratio, and added to the summary
// file the Makefile prints at the end (QH_BENCH_SUMMARY), so every goal is read in one place.
// `goal` is the largest acceptable ratio; 0 means the figure has no ratio goal.
inline void benchFigure(const char* what, double value, const char* unit, const char* anchorName, double anchor,
                        double goal)
{
    // Beside an anchor of nothing, nothing is as much and anything more is without bound.
    const double ratio = anchor > 0                  ? value / anchor
                         : anchor == 0 && value <= 0 ? 1.0
                                                     : std::numeric_limits<double>::infinity();
    const char* verdict = goal <= 0 ? "" : ratio <= goal ? "met" : "MISSED";
    char goalText[32] = "";
    if (goal > 0)
        std::snprintf(goalText, sizeof goalText, "(goal <= %.1f) ", goal);
    std::printf("%-48s %10.4g %-6s | %-34s %10.4g | ratio %6.2f %s%s\n", what, value, unit, anchorName, anchor, ratio,
                goalText, verdict);
    std::fflush(stdout);
    if (const char* path = std::getenv("QH_BENCH_SUMMARY")) {
        if (FILE* summary = std::fopen(path, "a")) {
            std::fprintf(summary, "%s\t%.4g %s\t%s\t%.4g\t%.2f\t%.1f\t%s\n", what, value, unit, anchorName, anchor,
                         ratio, goal, verdict);
            std::fclose(summary);
        }
    }
}

// A figure with an absolute goal (a memory ceiling, a frame): the goal stands in as the anchor.
inline void benchLimit(const char* what, double value, const char* unit, double limit)
{
    benchFigure(what, value, unit, "limit", limit, 1.0);
}

// A count with a ceiling that may be zero (records written when nothing changed): no ratio.
inline void benchAtMost(const char* what, double value, const char* unit, double most)
{
    const char* verdict = value <= most ? "met" : "MISSED";
    std::printf("%-48s %10.2f %-6s | %-34s %10.2f | %s\n", what, value, unit, "at most", most, verdict);
    std::fflush(stdout);
    if (const char* path = std::getenv("QH_BENCH_SUMMARY")) {
        if (FILE* summary = std::fopen(path, "a")) {
            std::fprintf(summary, "%s\t%.2f %s\tat most\t%.2f\t-\t-\t%s\n", what, value, unit, most, verdict);
            std::fclose(summary);
        }
    }
}
