#include "host/data/QueryFilter.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "host/Failure.h"

namespace korvane::host {

namespace {

constexpr const char* kSource = "QueryFilter";
constexpr int kMaxDepth = 200;

[[noreturn]] void bad(const std::string& clause, const std::string& why) {
    fail(err::HostInvalidArg, kSource, "Invalid where clause \"" + clause + "\": " + why + ".");
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

// ---- tokens -----------------------------------------------------------------

enum class Tok { End, Name, QuotedName, Text, Number, Op, LParen, RParen, Comma, Sign };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // name, text literal, operator or sign
    double number = 0;
    size_t at = 0;
};

std::vector<Token> tokenize(const std::string& s) {
    std::vector<Token> out;
    size_t i = 0, n = s.size();
    auto isNameStart = [](unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; };
    auto isNameChar = [](unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; };
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isspace(c)) {
            ++i;
            continue;
        }
        Token t;
        t.at = i;
        if (c == '\'') {
            t.kind = Tok::Text;
            ++i;
            bool closed = false;
            while (i < n) {
                if (s[i] == '\'') {
                    if (i + 1 < n && s[i + 1] == '\'') {
                        t.text += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                t.text += s[i++];
            }
            if (!closed) bad(s, "a text in quotes is not closed");
        } else if (c == '"' || c == '[') {
            char close = (c == '"') ? '"' : ']';
            t.kind = Tok::QuotedName;
            size_t end = s.find(close, i + 1);
            if (end == std::string::npos) bad(s, "a quoted field name is not closed");
            t.text = s.substr(i + 1, end - i - 1);
            if (t.text.empty()) bad(s, "an empty field name");
            i = end + 1;
        } else if (std::isdigit(c) || (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            size_t start = i;
            while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
            if (i < n && s[i] == '.') {
                ++i;
                while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
            }
            if (i < n && (s[i] == 'e' || s[i] == 'E')) {
                size_t j = i + 1;
                if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
                if (j < n && std::isdigit(static_cast<unsigned char>(s[j]))) {
                    i = j;
                    while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
                }
            }
            if (i < n && isNameChar(static_cast<unsigned char>(s[i]))) bad(s, "a malformed number");
            t.kind = Tok::Number;
            t.text = s.substr(start, i - start);
            if (!parseNumber(t.text, t.number)) bad(s, "a malformed number");
        } else if (isNameStart(c)) {
            size_t start = i;
            while (i < n && isNameChar(static_cast<unsigned char>(s[i]))) ++i;
            t.kind = Tok::Name;
            t.text = s.substr(start, i - start);
        } else if (c == '=' ) {
            t.kind = Tok::Op;
            t.text = "=";
            ++i;
        } else if (c == '<' || c == '>' || c == '!') {
            t.kind = Tok::Op;
            t.text = std::string(1, static_cast<char>(c));
            ++i;
            if (i < n && (s[i] == '=' || (c == '<' && s[i] == '>'))) t.text += s[i++];
            if (t.text == "!") bad(s, "'!' is not an operator");
        } else if (c == '(') {
            t.kind = Tok::LParen;
            ++i;
        } else if (c == ')') {
            t.kind = Tok::RParen;
            ++i;
        } else if (c == ',') {
            t.kind = Tok::Comma;
            ++i;
        } else if (c == '-' || c == '+') {
            t.kind = Tok::Sign;
            t.text = std::string(1, static_cast<char>(c));
            ++i;
        } else {
            bad(s, std::string("unexpected character '") + static_cast<char>(c) + "'");
        }
        out.push_back(std::move(t));
    }
    Token end;
    end.at = n;
    out.push_back(end);
    return out;
}

// ---- program ----------------------------------------------------------------

enum class Cls { Numeric, Text, Date };
enum class Cmp { Eq, Ne, Lt, Gt, Le, Ge };
enum Tri : uint8_t { False = 0, True = 1, Unknown = 2 };

struct Operand {
    bool isField = false;
    int32_t field = -1;
    Cls cls = Cls::Numeric;
    double number = 0;
    std::string text;
    Date date;
};

// An operand as written, before its type is settled by the predicate.
struct RawOperand {
    enum Kind { Field, Number, Text } kind = Number;
    int32_t field = -1;
    Cls fieldCls = Cls::Numeric;
    double number = 0;
    std::string text;
};

struct Node {
    enum Kind { And, Or, Not, Compare, Between, Like, In, IsNull, Constant } kind = Constant;
    int32_t a = -1, b = -1;  // children
    Cmp cmp = Cmp::Eq;
    bool negate = false;
    Cls cls = Cls::Numeric;
    Operand lhs, rhs, rhs2;
    std::vector<Operand> list;
    Tri constant = True;
};

}  // namespace

struct WhereClause::Program {
    std::vector<Node> nodes;
    int32_t root = -1;
    std::vector<int32_t> used;

    Tri eval(int32_t i, const std::vector<Value>& v) const;
};

namespace {

class Parser {
public:
    Parser(const std::string& clause, const Fields& fields, WhereClause::Program& prog)
        : clause_(clause), fields_(fields), prog_(prog), toks_(tokenize(clause)) {}

    int32_t parse() {
        int32_t root = expr(0);
        if (peek().kind != Tok::End) bad(clause_, "unexpected '" + describe(peek()) + "'");
        return root;
    }

private:
    const Token& peek() const { return toks_[pos_]; }
    const Token& take() { return toks_[pos_ < toks_.size() - 1 ? pos_++ : pos_]; }
    bool isKeyword(const Token& t, const char* kw) const { return t.kind == Tok::Name && iequals(t.text, kw); }
    bool acceptKeyword(const char* kw) {
        if (isKeyword(peek(), kw)) {
            ++pos_;
            return true;
        }
        return false;
    }
    static std::string describe(const Token& t) {
        switch (t.kind) {
            case Tok::End: return "end of clause";
            case Tok::Text: return "'" + t.text + "'";
            case Tok::LParen: return "(";
            case Tok::RParen: return ")";
            case Tok::Comma: return ",";
            default: return t.text;
        }
    }
    [[noreturn]] void expected(const char* what) { bad(clause_, std::string("expected ") + what + " but found " + describe(peek())); }

    int32_t add(Node n) {
        prog_.nodes.push_back(std::move(n));
        return static_cast<int32_t>(prog_.nodes.size() - 1);
    }

    void deeper(int depth) const {
        if (depth > kMaxDepth) bad(clause_, "nested too deeply");
    }

    int32_t expr(int depth) {
        deeper(depth);
        int32_t left = term(depth + 1);
        while (acceptKeyword("OR")) {
            int32_t right = term(depth + 1);
            Node n;
            n.kind = Node::Or;
            n.a = left;
            n.b = right;
            left = add(std::move(n));
        }
        return left;
    }

    int32_t term(int depth) {
        deeper(depth);
        int32_t left = factor(depth + 1);
        while (acceptKeyword("AND")) {
            int32_t right = factor(depth + 1);
            Node n;
            n.kind = Node::And;
            n.a = left;
            n.b = right;
            left = add(std::move(n));
        }
        return left;
    }

    int32_t factor(int depth) {
        deeper(depth);
        if (acceptKeyword("NOT")) {
            Node n;
            n.kind = Node::Not;
            n.a = factor(depth + 1);
            return add(std::move(n));
        }
        if (peek().kind == Tok::LParen) {
            ++pos_;
            int32_t inner = expr(depth + 1);
            if (peek().kind != Tok::RParen) expected("')'");
            ++pos_;
            return inner;
        }
        return predicate();
    }

    static bool reserved(const std::string& word) {
        static const char* const words[] = {"AND", "OR", "NOT", "LIKE", "IN", "IS", "NULL", "BETWEEN"};
        for (const char* w : words)
            if (iequals(word, w)) return true;
        return false;
    }

    RawOperand operand() {
        RawOperand r;
        const Token& t = peek();
        if (t.kind == Tok::Sign) {
            std::string sign = t.text;
            ++pos_;
            if (peek().kind != Tok::Number) expected("a number after the sign");
            r.kind = RawOperand::Number;
            r.number = sign == "-" ? -take().number : take().number;
            return r;
        }
        if (t.kind == Tok::Number) {
            r.kind = RawOperand::Number;
            r.number = take().number;
            return r;
        }
        if (t.kind == Tok::Text) {
            r.kind = RawOperand::Text;
            r.text = take().text;
            return r;
        }
        if ((t.kind == Tok::Name && !reserved(t.text)) || t.kind == Tok::QuotedName) {
            std::string name = take().text;
            int32_t idx = fields_.find(name);
            if (idx < 0) bad(clause_, "there is no field \"" + name + "\"");
            int32_t type = fields_.field(idx).type;
            r.kind = RawOperand::Field;
            r.field = idx;
            if (isNumericFieldType(type))
                r.fieldCls = Cls::Numeric;
            else if (type == FieldString)
                r.fieldCls = Cls::Text;
            else if (type == FieldDate)
                r.fieldCls = Cls::Date;
            else
                bad(clause_, "the field \"" + name + "\" cannot be queried");
            if (std::find(prog_.used.begin(), prog_.used.end(), idx) == prog_.used.end()) prog_.used.push_back(idx);
            return r;
        }
        expected("a field name or a value");
    }

    static const char* clsName(Cls c) {
        return c == Cls::Numeric ? "a numeric" : c == Cls::Text ? "a text" : "a date";
    }

    // The class both operands compare as; fails for mixed kinds.
    Cls settle(const RawOperand& a, const RawOperand& b) {
        if (a.kind == RawOperand::Field) return a.fieldCls;
        if (b.kind == RawOperand::Field) return b.fieldCls;
        if (a.kind == RawOperand::Text && b.kind == RawOperand::Text) return Cls::Text;
        return Cls::Numeric;
    }

    Operand convert(const RawOperand& r, Cls cls) {
        Operand o;
        o.cls = cls;
        if (r.kind == RawOperand::Field) {
            if (r.fieldCls != cls)
                bad(clause_, std::string("the field \"") + fields_.field(r.field).name + "\" is " + clsName(r.fieldCls) +
                                 " field and cannot be compared with " + clsName(cls) + " field");
            o.isField = true;
            o.field = r.field;
            return o;
        }
        switch (cls) {
            case Cls::Numeric:
                if (r.kind == RawOperand::Number) {
                    o.number = r.number;
                } else if (!parseNumber(r.text, o.number)) {
                    bad(clause_, "'" + r.text + "' is not a number");
                }
                break;
            case Cls::Text:
                if (r.kind != RawOperand::Text) bad(clause_, "a text field needs its value in single quotes");
                o.text = r.text;
                break;
            case Cls::Date:
                if (r.kind != RawOperand::Text || !parseDate(r.text, o.date))
                    bad(clause_, "a date field needs a date in single quotes, as 'YYYY-MM-DD'");
                break;
        }
        return o;
    }

    int32_t predicate() {
        RawOperand left = operand();
        Node n;
        if (acceptKeyword("IS")) {
            if (left.kind != RawOperand::Field) bad(clause_, "IS NULL needs a field");
            n.kind = Node::IsNull;
            n.negate = acceptKeyword("NOT");
            if (!acceptKeyword("NULL")) expected("NULL");
            n.lhs = convert(left, left.fieldCls);
            return add(std::move(n));
        }
        bool negate = acceptKeyword("NOT");
        if (acceptKeyword("LIKE")) {
            if (left.kind != RawOperand::Field || left.fieldCls != Cls::Text) bad(clause_, "LIKE needs a text field");
            if (peek().kind != Tok::Text) expected("a pattern in single quotes");
            n.kind = Node::Like;
            n.negate = negate;
            n.lhs = convert(left, Cls::Text);
            n.rhs.text = take().text;
            return add(std::move(n));
        }
        if (acceptKeyword("IN")) {
            if (peek().kind != Tok::LParen) expected("'(' after IN");
            ++pos_;
            std::vector<RawOperand> items;
            for (;;) {
                items.push_back(operand());
                if (items.back().kind == RawOperand::Field) bad(clause_, "IN lists hold values only");
                if (peek().kind == Tok::Comma) {
                    ++pos_;
                    continue;
                }
                if (peek().kind == Tok::RParen) {
                    ++pos_;
                    break;
                }
                expected("',' or ')'");
            }
            Cls cls = settle(left, items.front());
            n.kind = Node::In;
            n.negate = negate;
            n.cls = cls;
            n.lhs = convert(left, cls);
            for (const auto& it : items) n.list.push_back(convert(it, cls));
            return add(std::move(n));
        }
        if (acceptKeyword("BETWEEN")) {
            RawOperand lo = operand();
            if (!acceptKeyword("AND")) expected("AND");
            RawOperand hi = operand();
            Cls cls = settle(left, left.kind == RawOperand::Field ? left : lo.kind == RawOperand::Field ? lo : hi);
            n.kind = Node::Between;
            n.negate = negate;
            n.cls = cls;
            n.lhs = convert(left, cls);
            n.rhs = convert(lo, cls);
            n.rhs2 = convert(hi, cls);
            return add(std::move(n));
        }
        if (negate) expected("LIKE, IN or BETWEEN after NOT");
        if (peek().kind != Tok::Op) expected("a comparison operator");
        std::string op = take().text;
        RawOperand right = operand();
        n.kind = Node::Compare;
        if (op == "=") n.cmp = Cmp::Eq;
        else if (op == "<>" || op == "!=") n.cmp = Cmp::Ne;
        else if (op == "<") n.cmp = Cmp::Lt;
        else if (op == ">") n.cmp = Cmp::Gt;
        else if (op == "<=") n.cmp = Cmp::Le;
        else n.cmp = Cmp::Ge;
        n.cls = settle(left, right);
        n.lhs = convert(left, n.cls);
        n.rhs = convert(right, n.cls);
        return add(std::move(n));
    }

    const std::string& clause_;
    const Fields& fields_;
    WhereClause::Program& prog_;
    std::vector<Token> toks_;
    size_t pos_ = 0;
};

// ---- evaluation -------------------------------------------------------------

bool numberOf(const Operand& o, const std::vector<Value>& v, double& out) {
    if (!o.isField) {
        out = o.number;
        return true;
    }
    const Value& x = v[static_cast<size_t>(o.field)];
    if (auto p = std::get_if<int32_t>(&x)) out = *p;
    else if (auto f = std::get_if<float>(&x)) out = *f;
    else if (auto d = std::get_if<double>(&x)) out = *d;
    else return false;
    return true;
}

const std::string* textOf(const Operand& o, const std::vector<Value>& v) {
    if (!o.isField) return &o.text;
    return std::get_if<std::string>(&v[static_cast<size_t>(o.field)]);
}

const Date* dateOf(const Operand& o, const std::vector<Value>& v) {
    if (!o.isField) return &o.date;
    return std::get_if<Date>(&v[static_cast<size_t>(o.field)]);
}

// -1, 0, 1; or 2 when either side is null.
int order(Cls cls, const Operand& a, const Operand& b, const std::vector<Value>& v) {
    switch (cls) {
        case Cls::Numeric: {
            double x, y;
            if (!numberOf(a, v, x) || !numberOf(b, v, y)) return 2;
            if (std::isnan(x) || std::isnan(y)) return 2;
            return x < y ? -1 : x > y ? 1 : 0;
        }
        case Cls::Text: {
            const std::string* x = textOf(a, v);
            const std::string* y = textOf(b, v);
            if (!x || !y) return 2;
            int c = x->compare(*y);
            return c < 0 ? -1 : c > 0 ? 1 : 0;
        }
        case Cls::Date: {
            const Date* x = dateOf(a, v);
            const Date* y = dateOf(b, v);
            if (!x || !y) return 2;
            return *x < *y ? -1 : *y < *x ? 1 : 0;
        }
    }
    return 2;
}

size_t utf8Length(const std::string& s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    return std::min(len, s.size() - i);
}

// % matches any run of characters, _ exactly one; everything else itself.
bool like(const std::string& s, const std::string& p) {
    size_t si = 0, pi = 0, starP = std::string::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == '_') {
            si += utf8Length(s, si);
            ++pi;
        } else if (pi < p.size() && p[pi] == '%') {
            starP = pi++;
            starS = si;
        } else if (pi < p.size() && p[pi] == s[si]) {
            ++si;
            ++pi;
        } else if (starP != std::string::npos) {
            pi = starP + 1;
            starS += utf8Length(s, starS);
            si = starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%') ++pi;
    return pi == p.size();
}

Tri negateIf(Tri t, bool negate) {
    if (!negate || t == Unknown) return t;
    return t == True ? False : True;
}

}  // namespace

Tri WhereClause::Program::eval(int32_t i, const std::vector<Value>& v) const {
    const Node& n = nodes[static_cast<size_t>(i)];
    switch (n.kind) {
        case Node::Constant: return n.constant;
        case Node::And: {
            Tri a = eval(n.a, v);
            if (a == False) return False;
            Tri b = eval(n.b, v);
            if (b == False) return False;
            return (a == True && b == True) ? True : Unknown;
        }
        case Node::Or: {
            Tri a = eval(n.a, v);
            if (a == True) return True;
            Tri b = eval(n.b, v);
            if (b == True) return True;
            return (a == False && b == False) ? False : Unknown;
        }
        case Node::Not: return negateIf(eval(n.a, v), true);
        case Node::Compare: {
            int o = order(n.cls, n.lhs, n.rhs, v);
            if (o == 2) return Unknown;
            bool r = false;
            switch (n.cmp) {
                case Cmp::Eq: r = o == 0; break;
                case Cmp::Ne: r = o != 0; break;
                case Cmp::Lt: r = o < 0; break;
                case Cmp::Gt: r = o > 0; break;
                case Cmp::Le: r = o <= 0; break;
                case Cmp::Ge: r = o >= 0; break;
            }
            return r ? True : False;
        }
        case Node::Between: {
            int lo = order(n.cls, n.lhs, n.rhs, v);
            int hi = order(n.cls, n.lhs, n.rhs2, v);
            if (lo == 2 || hi == 2) return Unknown;
            return negateIf(lo >= 0 && hi <= 0 ? True : False, n.negate);
        }
        case Node::Like: {
            const std::string* s = textOf(n.lhs, v);
            if (!s) return Unknown;
            return negateIf(like(*s, n.rhs.text) ? True : False, n.negate);
        }
        case Node::In: {
            bool sawNull = false;
            for (const Operand& item : n.list) {
                int o = order(n.cls, n.lhs, item, v);
                if (o == 0) return negateIf(True, n.negate);
                if (o == 2) sawNull = true;
            }
            return sawNull ? Unknown : negateIf(False, n.negate);
        }
        case Node::IsNull: {
            bool null = isNull(v[static_cast<size_t>(n.lhs.field)]);
            return (null != n.negate) ? True : False;
        }
    }
    return Unknown;
}

WhereClause::WhereClause() = default;
WhereClause::~WhereClause() = default;
WhereClause::WhereClause(WhereClause&&) noexcept = default;
WhereClause& WhereClause::operator=(WhereClause&&) noexcept = default;

WhereClause WhereClause::compile(const std::string& clause, const Fields& fields) {
    WhereClause w;
    if (std::all_of(clause.begin(), clause.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }))
        return w;
    auto prog = std::make_unique<Program>();
    Parser parser(clause, fields, *prog);
    prog->root = parser.parse();
    w.program_ = std::move(prog);
    return w;
}

bool WhereClause::matchesAll() const { return !program_; }

bool WhereClause::matches(const std::vector<Value>& values) const {
    if (!program_) return true;
    return program_->eval(program_->root, values) == True;
}

const std::vector<int32_t>& WhereClause::fieldsUsed() const {
    static const std::vector<int32_t> none;
    return program_ ? program_->used : none;
}

}  // namespace korvane::host
