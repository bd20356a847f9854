#pragma once
// Attribute queries in the where-clause dialect that users type.
//
//   expr      := term { OR term }
//   term      := factor { AND factor }
//   factor    := NOT factor | '(' expr ')' | predicate
//   predicate := operand op operand            op: = <> != < > <= >=
//              | operand [NOT] BETWEEN operand AND operand
//              | field [NOT] LIKE 'pattern'     % any run, _ one character
//              | operand [NOT] IN ( literal {, literal} )
//              | field IS [NOT] NULL
//   operand   := field | number | 'text'
//   field     := name | "name" | [name]
//
// Keywords and field names are case-insensitive; blanks around operators
// are optional. Text literals are in single quotes, '' standing for one
// quote. Numbers may carry a sign, decimals and an exponent.
//
// Types are checked when the clause is compiled, so a clause either fails
// at once or runs over every row without further checks:
//  - text field against a number (unquoted value): fails;
//  - numeric field against quoted text: accepted only when the text is a
//    number ('5', ' 2.5 '), which then compares as that number; any other
//    text fails;
//  - date field against quoted text in the form YYYY-MM-DD; anything else fails;
//  - LIKE applies to text fields only; field against field needs both of
//    one kind (numeric, text or date);
//  - an unknown field, a malformed clause or trailing text fails.
// Failures are host::Failure with number err::HostInvalidArg.
//
// Text compares case-sensitively by character codes (LIKE too). A null
// value makes any comparison unknown: neither it nor its negation selects
// the row (three-valued logic); only IS NULL tests for it.
#include <memory>
#include <string>
#include <vector>

#include "host/data/Field.h"
#include "host/data/Value.h"

namespace korvane::host {

// What a search asks for: a where clause (empty: every row).
struct QueryFilter {
    QueryFilter() = default;
    explicit QueryFilter(std::string where) : whereClause(std::move(where)) {}
    std::string whereClause;
};

// A where clause compiled against one table's fields: field names are
// resolved to indexes once, so that evaluating a row does no parsing and no
// lookups.
class WhereClause {
public:
    WhereClause();  // matches every row
    ~WhereClause();
    WhereClause(WhereClause&&) noexcept;
    WhereClause& operator=(WhereClause&&) noexcept;

    // Fails (HostInvalidArg) on a malformed clause, an unknown field or a
    // type mismatch. An empty or blank clause matches every row.
    static WhereClause compile(const std::string& clause, const Fields& fields);

    bool matchesAll() const;
    // values: one per field of the table the clause was compiled for.
    bool matches(const std::vector<Value>& values) const;
    // Indexes of the fields the clause reads.
    const std::vector<int32_t>& fieldsUsed() const;

    struct Program;  // the compiled form (internal)

private:
    std::unique_ptr<Program> program_;
};

}  // namespace korvane::host
