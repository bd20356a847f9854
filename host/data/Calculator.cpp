#include "host/data/Calculator.h"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>

#include "host/Failure.h"
#include "host/data/Table.h"

namespace korvane::host {

namespace {

constexpr const char* kSource = "Calculator";
constexpr int kMaxDepth = 200;

[[noreturn]] void bad(const std::string& text, const std::string& why) {
    fail(err::HostInvalidArg, kSource, "Invalid expression \"" + text + "\": " + why + ".");
}

}  // namespace

// The compiled expression: a tree of nodes, each typed when it is built.
struct Expression::Program {
    enum class Op { Number, Text, Field, Neg, Add, Sub, Mul, Div, Concat };
    struct Node {
        Op op;
        bool text = false;  // the node's value is text
        double number = 0;
        std::string str;
        int32_t field = -1;
        int32_t a = -1, b = -1;  // operand nodes
    };
    std::vector<Node> nodes;
    int32_t root = -1;
    std::vector<int32_t> used;

    Value eval(int32_t i, const std::vector<Value>& values) const;
};

namespace {

class Parser {
public:
    Parser(const std::string& text, const Fields& fields, Expression::Program& p) : s_(text), fields_(fields), p_(p) {}

    int32_t parse() {
        int32_t root = concat(0);
        skip();
        if (i_ < s_.size()) bad(s_, fmt::format("unexpected \"{}\" at position {}", s_.substr(i_, 12), i_ + 1));
        return root;
    }

private:
    using Op = Expression::Program::Op;

    void skip() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    bool take(char c) {
        skip();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    int32_t node(Expression::Program::Node n) {
        p_.nodes.push_back(std::move(n));
        return static_cast<int32_t>(p_.nodes.size() - 1);
    }
    bool isText(int32_t n) const { return p_.nodes[static_cast<size_t>(n)].text; }
    void needNumber(int32_t n, char op) {
        if (isText(n)) bad(s_, fmt::format("'{}' takes numbers, not text (use & to join text)", op));
    }
    void deep(int depth) {
        if (depth > kMaxDepth) bad(s_, "it is nested too deeply");
    }

    int32_t concat(int depth) {
        deep(depth);
        int32_t left = sum(depth + 1);
        while (take('&')) {
            int32_t right = sum(depth + 1);
            left = node({Op::Concat, true, 0, {}, -1, left, right});
        }
        return left;
    }
    int32_t sum(int depth) {
        int32_t left = product(depth);
        for (;;) {
            skip();
            if (i_ >= s_.size() || (s_[i_] != '+' && s_[i_] != '-')) return left;
            char op = s_[i_++];
            int32_t right = product(depth);
            needNumber(left, op);
            needNumber(right, op);
            left = node({op == '+' ? Op::Add : Op::Sub, false, 0, {}, -1, left, right});
        }
    }
    int32_t product(int depth) {
        int32_t left = unary(depth);
        for (;;) {
            skip();
            if (i_ >= s_.size() || (s_[i_] != '*' && s_[i_] != '/')) return left;
            char op = s_[i_++];
            int32_t right = unary(depth);
            needNumber(left, op);
            needNumber(right, op);
            left = node({op == '*' ? Op::Mul : Op::Div, false, 0, {}, -1, left, right});
        }
    }
    int32_t unary(int depth) {
        deep(depth);
        skip();
        if (i_ < s_.size() && (s_[i_] == '-' || s_[i_] == '+')) {
            char op = s_[i_++];
            int32_t a = unary(depth + 1);
            needNumber(a, op);
            return op == '-' ? node({Op::Neg, false, 0, {}, -1, a, -1}) : a;
        }
        return primary(depth);
    }
    int32_t primary(int depth) {
        skip();
        if (i_ >= s_.size()) bad(s_, "a value is missing at its end");
        char c = s_[i_];
        if (c == '(') {
            ++i_;
            int32_t inner = concat(depth + 1);
            if (!take(')')) bad(s_, "a closing parenthesis is missing");
            return inner;
        }
        if (c == '"') {
            std::string text;
            ++i_;
            for (;;) {
                if (i_ >= s_.size()) bad(s_, "a text is not closed with a double quote");
                if (s_[i_] == '"') {
                    if (i_ + 1 < s_.size() && s_[i_ + 1] == '"') {
                        text += '"';
                        i_ += 2;
                        continue;
                    }
                    ++i_;
                    break;
                }
                text += s_[i_++];
            }
            return node({Op::Text, true, 0, std::move(text), -1, -1, -1});
        }
        if (c == '[') {
            size_t end = s_.find(']', i_ + 1);
            if (end == std::string::npos) bad(s_, "a field name is not closed with ']'");
            std::string name = s_.substr(i_ + 1, end - i_ - 1);
            i_ = end + 1;
            int32_t f = fields_.find(name);
            if (f < 0) bad(s_, "there is no field \"" + name + "\"");
            int32_t type = fields_.field(f).type;
            if (type == FieldGeometry || type == FieldDate)
                bad(s_, "the field \"" + name + "\" holds " + (type == FieldDate ? "dates" : "shapes") +
                            ", which an expression cannot read");
            p_.used.push_back(f);
            return node({Op::Field, type == FieldString, 0, {}, f, -1, -1});
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            size_t start = i_;
            while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.')) ++i_;
            if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
                size_t e = i_ + 1;
                if (e < s_.size() && (s_[e] == '+' || s_[e] == '-')) ++e;
                if (e < s_.size() && std::isdigit(static_cast<unsigned char>(s_[e]))) {
                    i_ = e;
                    while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
                }
            }
            double x = 0;
            auto [end, ec] = std::from_chars(s_.data() + start, s_.data() + i_, x);
            if (ec != std::errc() || end != s_.data() + i_ || !std::isfinite(x))
                bad(s_, "\"" + s_.substr(start, i_ - start) + "\" is not a number");
            return node({Op::Number, false, x, {}, -1, -1, -1});
        }
        bad(s_, fmt::format("\"{}\" at position {} is not a number, a \"text\" or a [field]", s_.substr(i_, 12), i_ + 1));
    }

    const std::string& s_;
    const Fields& fields_;
    Expression::Program& p_;
    size_t i_ = 0;
};

}  // namespace

Value Expression::Program::eval(int32_t i, const std::vector<Value>& values) const {
    const Node& n = nodes[static_cast<size_t>(i)];
    switch (n.op) {
        case Op::Number: return n.number;
        case Op::Text: return n.str;
        case Op::Field: {
            const Value& v = values[static_cast<size_t>(n.field)];
            if (isNull(v)) return v;
            if (n.text) return toText(v);
            return toDouble(v);
        }
        case Op::Concat: {
            Value a = eval(n.a, values), b = eval(n.b, values);
            return toText(a) + toText(b);
        }
        case Op::Neg: {
            Value a = eval(n.a, values);
            if (isNull(a)) return a;
            return -std::get<double>(a);
        }
        default: break;
    }
    Value a = eval(n.a, values), b = eval(n.b, values);
    if (isNull(a) || isNull(b)) return Value{};
    double x = std::get<double>(a), y = std::get<double>(b);
    switch (n.op) {
        case Op::Add: return x + y;
        case Op::Sub: return x - y;
        case Op::Mul: return x * y;
        default:
            if (y == 0) fail(err::HostInvalidArg, kSource, "Division by zero.");
            return x / y;
    }
}

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

Expression Expression::compile(const std::string& text, const Fields& fields) {
    Expression e;
    e.program_ = std::make_unique<Program>();
    Parser parser(text, fields, *e.program_);
    e.program_->root = parser.parse();
    return e;
}

bool Expression::isText() const { return program_ && program_->nodes[static_cast<size_t>(program_->root)].text; }

Value Expression::evaluate(const std::vector<Value>& values) const {
    if (!program_) fail(err::HostInvalidArg, kSource, "The expression has not been compiled.");
    Value v = program_->eval(program_->root, values);
    if (auto d = std::get_if<double>(&v); d && !std::isfinite(*d))
        fail(err::HostInvalidArg, kSource, "The result is not a finite number.");
    return v;
}

const std::vector<int32_t>& Expression::fieldsUsed() const {
    static const std::vector<int32_t> none;
    return program_ ? program_->used : none;
}

Calculator::Calculator(const Fields& fields, const std::string& field, const std::string& expression)
    : field_(fields.find(field)) {
    if (field_ < 0) fail(err::HostInvalidArg, kSource, "There is no field \"" + field + "\".");
    int32_t type = fields.field(field_).type;
    if (type == FieldOID || type == FieldGeometry)
        fail(err::HostInvalidArg, kSource, "The field \"" + field + "\" cannot be calculated.");
    expression_ = Expression::compile(expression, fields);
}

Value Calculator::valueFor(const Row& row) const {
    return valueForField(row.fields().field(field_), expression_.evaluate(row.values()));
}

int64_t Calculator::calculate(Cursor& cursor) const {
    int64_t n = 0;
    std::optional<EditSession> edit;
    while (RowPtr r = cursor.next()) {
        if (!edit) edit.emplace(r->table());
        r->setValue(field_, valueFor(*r));
        cursor.updateRow(*r);
        ++n;
    }
    if (edit) edit->commit();
    return n;
}

}  // namespace korvane::host
