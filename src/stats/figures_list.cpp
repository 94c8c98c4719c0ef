/*
** figures_list.cpp -- morvenda figures: the yearly figures' table for
** people and programs.
**
**   morvenda figures             a plain list
**   morvenda figures --json      one object a figure, for the workbench and
**                                scripts
**   morvenda figures --markdown  the table the user's guide holds (a test
**                                compares the two)
*/
#include <cstdio>
#include <cstring>
#include <string>

#include "stats/figures.h"

namespace {

constexpr int EXIT_USAGE = 2;

void json_string(const char* s)
{
    std::putchar('"');
    for (; *s; s++) {
        const unsigned char c = static_cast<unsigned char>(*s);
        if (c == '"' || c == '\\')
            std::printf("\\%c", c);
        else if (c < 0x20)
            std::printf("\\u%04x", c);
        else
            std::putchar(c);
    }
    std::putchar('"');
}

void list_json()
{
    std::printf("[");
    for (std::size_t i = 0; i < YEARLY_FIGURE_COUNT; i++) {
        const YearlyFigure& f = YEARLY_FIGURES[i];
        std::printf(i ? ",\n {" : "\n {");
        std::printf("\"label\": ");
        json_string(figure_key(f).c_str());
        std::printf(", \"name\": ");
        json_string(f.name);
        std::printf(", \"unit\": ");
        json_string(unit_code(f.unit));
        std::printf(", \"unit_kg\": ");
        json_string(unit_text(f.unit, true).c_str());
        std::printf(", \"unit_lb\": ");
        json_string(unit_text(f.unit, false).c_str());
        std::printf(", \"group\": ");
        json_string(group_code(f.group));
        std::printf(", \"better\": %d, \"herd_sum\": %s, \"help\": ", f.better, f.herd_sum ? "true" : "false");
        json_string(f.help);
        std::printf("}");
    }
    std::printf("\n]\n");
}

void list_markdown()
{
    std::printf("| label | figure | unit | group | more is | what it is |\n");
    std::printf("| --- | --- | --- | --- | --- | --- |\n");
    for (std::size_t i = 0; i < YEARLY_FIGURE_COUNT; i++) {
        const YearlyFigure& f = YEARLY_FIGURES[i];
        const char* better = f.better > 0 ? "better" : f.better < 0 ? "worse" : "-";
        std::printf("| `%s` | %s | %s | %s | %s | %s |\n", figure_key(f).c_str(), f.name,
                    unit_text(f.unit, false).c_str(), group_code(f.group), better, f.help);
    }
}

void list_plain()
{
    for (std::size_t i = 0; i < YEARLY_FIGURE_COUNT; i++) {
        const YearlyFigure& f = YEARLY_FIGURES[i];
        std::printf("%-24s %-48s %s\n", figure_key(f).c_str(), f.name, unit_text(f.unit, false).c_str());
    }
}

} // namespace

int figures_command(int argc, char** argv)
{
    if (argc == 1) {
        list_plain();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--json") == 0) {
        list_json();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--markdown") == 0) {
        list_markdown();
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::printf("usage: morvenda figures [--json|--markdown]\n");
        return 0;
    }
    std::fprintf(stderr, "usage: morvenda figures [--json|--markdown]\n");
    return EXIT_USAGE;
}
