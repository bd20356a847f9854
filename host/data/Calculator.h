#pragma once
// The field calculator: a closed expression language that computes a value
// per row and writes it into one field.
//
//   concat  := sum { '&' sum }                 text joining (numbers as text)
//   sum     := product { ('+' | '-') product }
//   product := unary { ('*' | '/') unary }
//   unary   := ('-' | '+') unary | primary
//   primary := number | "text" | [field] | '(' concat ')'
//
// Numbers are decimal, with an optional fraction and exponent ("2", "0.5",
// "1e3"). Text stands in double quotes, "" for one quote. A field is named
// in square brackets (case-insensitive). Blanks between tokens are allowed.
// Nothing else is accepted: no functions, no names outside brackets, no
// comparison, so an expression can do nothing but compute a value.
//
// Types are checked when the expression is compiled: + - * / take numbers
// (numeric fields, numeric literals, or parts made of them); & takes any
// value and gives text. Date, object-id-less and shape fields cannot be
// read. A null field makes an arithmetic result null; & reads null as "".
// Division by zero fails when it happens. Failures are host::Failure with
// err::HostInvalidArg.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/data/Field.h"
#include "host/data/Value.h"

namespace korvane::host {

class Cursor;
class Row;

class Expression {
public:
    Expression();
    ~Expression();
    Expression(Expression&&) noexcept;
    Expression& operator=(Expression&&) noexcept;

    // Fails (HostInvalidArg) on anything outside the grammar, an unknown
    // field, a field of a kind that cannot be read, or a type mismatch.
    static Expression compile(const std::string& text, const Fields& fields);

    // Whether the result is text (otherwise a number).
    bool isText() const;
    // values: one per field of the table the expression was compiled for.
    // A number comes out as a double, text as a string, or null.
    Value evaluate(const std::vector<Value>& values) const;
    const std::vector<int32_t>& fieldsUsed() const;

    struct Program;

private:
    std::unique_ptr<Program> program_;
};

// Writes an expression's value into a field for every row of an update
// cursor, converting it to the field's type as Row::setValue does.
class Calculator {
public:
    // Compiles the expression and finds the field; fails (HostInvalidArg)
    // for a bad expression, an unknown field or one that cannot be set.
    Calculator(const Fields& fields, const std::string& field, const std::string& expression);

    int32_t fieldIndex() const { return field_; }
    const Expression& expression() const { return expression_; }
    // The value for the row, converted to the field's type; fails when it
    // cannot be stored there.
    Value valueFor(const Row& row) const;
    // Sets the field of every row the cursor hands out and writes it back,
    // all in one edit session of the table: a value that cannot be stored,
    // or a failed write, leaves the files as they were. Returns how many rows
    // were written.
    int64_t calculate(Cursor& cursor) const;

private:
    int32_t field_ = -1;
    Expression expression_;
};

}  // namespace korvane::host
