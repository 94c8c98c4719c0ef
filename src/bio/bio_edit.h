/*
** bio_edit.h -- variants of a bio file by named changes.
**
** A change names a field of the item table and, where it has rows or
** columns, a row and a cell by their own labels, and either sets it or
** scales it:
**
**   interest=0.04            a scalar
**   conception.5.JUL=0.3     a cell: month in milk 5, July
**   heat_detection.5*=1.1    a whole row scaled
**   milk_price*=0.85         a whole series scaled
**   milk_price.7=19.5        model month 7 of a series
**
** Only the tokens that change are rewritten; every other byte of the file
** stays as it was.  Values set must be of their field's kind and within
** its range; scaled numbers are written in plain decimal form.
*/
#ifndef MORVENDA_BIO_BIO_EDIT_H
#define MORVENDA_BIO_BIO_EDIT_H

#include <string>
#include <vector>

struct BioChange {
    int field = -1;
    int first_row = 0, last_row = 0; /* rows and columns changed, from 0 */
    int first_col = 0, last_col = 0;
    bool scale = false;  /* *= factor, else = value */
    std::string value;   /* the value, or the factor's text */
    double factor = 1.0;
};

/* Parses one change; returns "" or what is wrong with it. */
std::string parse_bio_change(const std::string& text, BioChange& change);

/* Applies the changes in order to `text`; returns "" or the fault (the
** item, the cell and why), and then the text is left as it was. */
std::string apply_bio_changes(std::string& text, const std::vector<BioChange>& changes);

/* "conception.5.JUL": a value's name in changes. */
std::string bio_cell_name(int field, int row, int col);

/* The shortest plain decimal (no exponent) that reads back as `v`. */
std::string plain_decimal(double v);

#endif
