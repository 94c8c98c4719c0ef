/*
** bio_items.h -- the one table of the bio file's items, and the walk over
** a bio file's text that every reader of the file shares.
**
** The bio file is read by position, so its layout is a contract: which
** value stands where, in what form, and in what range.  The table below
** is that contract, written once.  READ_BIO_FILE walks it to load a run,
** `morvenda check` walks it to list every fault of a file, `morvenda set`
** and the workbench walk it to find the bytes of a value, and
** `morvenda items` prints it.
**
** A field is a run of values of one meaning inside an item: a scalar
** (interest), a series (milk_price, 24 model months) or a table
** (conception, months in milk 2..15 by calendar month).  Most items are
** one field; items 2, 14, 16, 26, 27, 31 and 33 hold several.
*/
#ifndef MORVENDA_BIO_BIO_ITEMS_H
#define MORVENDA_BIO_BIO_ITEMS_H

#include <cstddef>
#include <string>
#include <vector>

/* The largest bio file read at all (a bio file is some 20 kB). */
constexpr std::size_t LARGEST_BIO_FILE = 4u << 20;

enum class BioKind {
    text,    /* the first line, kept as the time stamp */
    name,    /* a file or run name: one token */
    integer, /* a whole decimal number */
    number,  /* a decimal number */
    keyword, /* a word */
    note,    /* a skipped line of item 35 */
};

/* How a value is judged, beyond its kind. */
enum class BioRule {
    any,         /* every token of its kind */
    range,       /* lowest..highest, the token named in the message */
    whole_range, /* an integer in lowest..highest, its value named */
    weight,      /* range, and above 0 */
    not_negative,/* -highest..highest named by token, then 0.. by value */
    correlation, /* lowest..highest, its value named */
    analysis,    /* 1, 2, 3 or 71 */
    month,       /* JAN..DEC */
    policy,      /* OPTIMAL, KEEPPREG, KEEPALL, USE_POL */
};

/* What the rows and columns of a field stand for, and how a change names
** them: months in milk, model months, lactations and months of pregnancy
** by number, calendar months by JAN..DEC. */
enum class BioAxis {
    none,
    month_in_milk,
    calendar_month,
    model_month,
    lactation,
    pregnancy_month,
    line,
};

struct BioField {
    int item;            /* item number, 1..36 */
    const char* name;    /* the field's name in `morvenda set` */
    const char* what;    /* the reader's words for it in messages */
    int rows;
    int cols;            /* values = rows x cols, read row by row */
    bool heading;        /* a heading line stands before the values */
    BioKind kind;
    BioRule rule;
    double lowest;       /* valid range of numbers and integers */
    double highest;
    BioAxis row_axis;
    int first_row;       /* number of row 0 on its axis */
    BioAxis col_axis;
    int first_col;
    const char* unit;
    const char* help;    /* one line: what it is, and why its range */
};

/* The item's heading in the table: its title and the group it belongs to. */
struct BioItemInfo {
    int item;
    const char* group; /* milk, reproduction, culling, prices, costs, model */
    const char* title;
    const char* unit;
    const char* help;
};

/* Every field in reading order; the time stamp is field 0. */
const std::vector<BioField>& bio_fields();
/* Items 1..36 in order. */
const std::vector<BioItemInfo>& bio_item_infos();
/* Index of the field called `name`, or -1. */
int find_bio_field(const std::string& name);
/* Position of value (row, col) of a field within its item, from 0. */
int item_index(int field, int row, int col);

/* The label of row or column `k` (from 0) on an axis starting at `first`:
** "5", "JUL"; "" for none. */
std::string axis_label(BioAxis axis, int first, int k);
/* The position of `label` on the axis, or -1. */
int axis_position(BioAxis axis, int first, int count, const std::string& label);
const char* axis_name(BioAxis axis);
/* "number", "integer", "keyword", "name", "text" (the time stamp and the
** note lines). */
const char* kind_word(BioKind kind);

/* A value found in the file: the field, its row and column, its bytes. */
struct BioToken {
    int field;
    int row;
    int col;
    std::size_t offset;
    std::size_t length;
};

/* A fault of a bio file.  stops: the positions after it are uncertain (a
** token missing, added or of the wrong kind), so nothing after it is
** judged.  warning: the file is read all the same. */
struct BioFault {
    int field = -1; /* -1: the file as a whole */
    int row = 0;    /* row and column -1: the heading before the field */
    int col = 0;
    std::size_t offset = 0;
    std::size_t length = 0;
    std::string token;
    std::string reason;
    bool stops = false;
    bool warning = false;
};

/* What a walk reports, in file order. */
class BioSink {
public:
    virtual ~BioSink() = default;
    /* A value that passed its checks (integers and numbers parsed into
    ** `number`).  The time stamp comes as field 0 with its stored text. */
    virtual void value(const BioToken& at, const std::string& token, double number) = 0;
    /* A fault or a warning; return true to go on walking (a file that ends
    ** early ends the walk whatever is returned). */
    virtual bool fault(const BioFault& fault) = 0;
};

/* Walks `text` (a UTF-8 byte-order mark at its start is skipped).  With
** `judge` every value is checked against its kind, range and the items it
** depends on; without, every token is taken as it stands and only a file
** that ends early is a fault. */
void walk_bio_text(const std::string& text, BioSink& sink, bool judge);

/* The positions of every value, without judging them. */
struct BioLayout {
    std::vector<BioToken> tokens;
    bool complete = false;
    int missing_item = 0; /* the first item whose values the file lacks */
};
BioLayout bio_layout(const std::string& text);

/* Every fault of the file: every range fault, and token faults up to the
** first that stops the walk.  Warnings are included. */
std::vector<BioFault> bio_faults(const std::string& text);

/* Why `token` cannot be a value of `field` on its own (kind and range),
** or ""; numbers and integers are parsed into `number`. */
std::string bio_value_fault(const BioField& field, const std::string& token, double& number);

/* True when the token is a plain decimal number (no hexadecimal, no
** infinity or not-a-number). */
bool is_decimal_number(const std::string& token);

#endif
