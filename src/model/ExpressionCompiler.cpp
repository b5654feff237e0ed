// The expression compiler: a lexer, a recursive-descent parser building a
// small tree (folding subexpressions of constants as it goes) and a code
// generator for the stack machine of ExpressionCode.h.
//
// Hand-written on purpose: the model's decisions compare values that differ
// in their last bits, so a formula must give exactly what the same formula
// gives in C++: operations in the order written, no reassociation, no
// contraction into fused multiply-add, no division turned into
// multiplication, literals correctly rounded. No expression library packaged
// by Debian promises that, and the language is small enough for a few
// hundred lines.
#include "model/ExpressionCompiler.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

using namespace expression_code;

namespace {

// Parentheses, unary operators and calls nested deeper than this, or a tree
// taller than kMaxHeight, do not compile (which bounds the recursion of the
// parser, the generator and the tree's destruction).
const int kMaxNesting = 100;
const int kMaxHeight = 1000;

const char kTooDeep[] = "expression nested too deeply";

struct Node {
  enum Kind { kConstant, kState, kGlobal, kArgument, kUnary, kBinary, kAnd, kOr, kConditional };
  Kind kind = kConstant;
  size_t offset = 0;  // where its text starts (its operator, for an operation)
  int height = 1;
  Unary unary = Unary::kNeg;
  Binary binary = Binary::kAdd;
  double constant = 0.0;
  short* const* state = nullptr;
  const double* global = nullptr;
  int argument = 0;
  std::unique_ptr<Node> a, b, c;  // operands, in the order written
};
using NodePtr = std::unique_ptr<Node>;

NodePtr MakeConstant(double value, size_t offset) {
  NodePtr n(new Node);
  n->offset = offset;
  n->constant = value;
  return n;
}

NodePtr MakeOperation(Node::Kind kind, size_t offset, NodePtr a, NodePtr b = nullptr,
                      NodePtr c = nullptr) {
  NodePtr n(new Node);
  n->kind = kind;
  n->offset = offset;
  for (const NodePtr* child : {&a, &b, &c})
    if (*child) n->height = std::max(n->height, (*child)->height + 1);
  n->a = std::move(a);
  n->b = std::move(b);
  n->c = std::move(c);
  return n;
}

bool IsConstant(const Node& n) { return n.kind == Node::kConstant; }

// Whether the node's value is always 1.0 or 0.0 (so that a condition built
// on it needs no conversion).
bool IsBoolean(const Node& n) {
  switch (n.kind) {
    case Node::kConstant:
      return n.constant == 1.0 || (n.constant == 0.0 && !std::signbit(n.constant));
    case Node::kUnary:
      return n.unary == Unary::kNot || n.unary == Unary::kTruth;
    case Node::kBinary:
      return n.binary >= Binary::kLt && n.binary <= Binary::kNe;
    case Node::kAnd:
    case Node::kOr:
      return true;
    case Node::kConditional:
      return IsBoolean(*n.b) && IsBoolean(*n.c);
    default:
      return false;
  }
}

// The builders fold an operation whose operands are all constants into the
// constant the evaluator would compute, with the same operation.
NodePtr MakeUnary(Unary op, size_t offset, NodePtr v) {
  if (IsConstant(*v)) return MakeConstant(ApplyUnary(op, v->constant), offset);
  NodePtr n = MakeOperation(Node::kUnary, offset, std::move(v));
  n->unary = op;
  return n;
}

NodePtr MakeBinary(Binary op, size_t offset, NodePtr l, NodePtr r) {
  if (IsConstant(*l) && IsConstant(*r))
    return MakeConstant(ApplyBinary(op, l->constant, r->constant), offset);
  NodePtr n = MakeOperation(Node::kBinary, offset, std::move(l), std::move(r));
  n->binary = op;
  return n;
}

NodePtr AsCondition(NodePtr v) {
  size_t offset = v->offset;
  return IsBoolean(*v) ? std::move(v) : MakeUnary(Unary::kTruth, offset, std::move(v));
}

// `and` / `or` with a constant left operand is decided by it or is the
// right operand's truth.
NodePtr MakeLogic(Node::Kind kind, size_t offset, NodePtr l, NodePtr r) {
  if (IsConstant(*l)) {
    const bool holds = l->constant != 0.0;
    if (kind == Node::kAnd && !holds) return MakeConstant(0.0, offset);
    if (kind == Node::kOr && holds) return MakeConstant(1.0, offset);
    return AsCondition(std::move(r));
  }
  return MakeOperation(kind, offset, std::move(l), std::move(r));
}

NodePtr MakeConditional(size_t offset, NodePtr c, NodePtr a, NodePtr b) {
  if (IsConstant(*c)) return c->constant != 0.0 ? std::move(a) : std::move(b);
  return MakeOperation(Node::kConditional, offset, std::move(c), std::move(a), std::move(b));
}

enum class Token {
  kEnd, kError, kNumber, kName, kLParen, kRParen, kComma, kQuestion, kColon,
  kPlus, kMinus, kStar, kSlash, kLt, kLe, kGt, kGe, kEq, kNe, kAnd, kOr, kNot
};

struct Function {
  const char* name;
  int arity;
  Unary unary;    // for one argument
  Binary binary;  // for two
};

const Function kFunctions[] = {
    {"exp", 1, Unary::kExp, Binary::kAdd},     {"log", 1, Unary::kLog, Binary::kAdd},
    {"sqrt", 1, Unary::kSqrt, Binary::kAdd},   {"abs", 1, Unary::kAbs, Binary::kAdd},
    {"floor", 1, Unary::kFloor, Binary::kAdd}, {"ceil", 1, Unary::kCeil, Binary::kAdd},
    {"pow", 2, Unary::kNeg, Binary::kPow},     {"min", 2, Unary::kNeg, Binary::kMin},
    {"max", 2, Unary::kNeg, Binary::kMax},     {"if", 3, Unary::kNeg, Binary::kAdd},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c) || c == '.'; }

// The binary operators by precedence level, loosest first; -1 for a token
// that is none.
const int kUnaryLevel = 6;
int LevelOf(Token t) {
  switch (t) {
    case Token::kOr: return 0;
    case Token::kAnd: return 1;
    case Token::kEq: case Token::kNe: return 2;
    case Token::kLt: case Token::kLe: case Token::kGt: case Token::kGe: return 3;
    case Token::kPlus: case Token::kMinus: return 4;
    case Token::kStar: case Token::kSlash: return 5;
    default: return -1;
  }
}

Binary BinaryOf(Token t) {
  switch (t) {
    case Token::kEq: return Binary::kEq;
    case Token::kNe: return Binary::kNe;
    case Token::kLt: return Binary::kLt;
    case Token::kLe: return Binary::kLe;
    case Token::kGt: return Binary::kGt;
    case Token::kGe: return Binary::kGe;
    case Token::kPlus: return Binary::kAdd;
    case Token::kMinus: return Binary::kSub;
    case Token::kStar: return Binary::kMul;
    default: return Binary::kDiv;
  }
}

class Parser {
  // One more level of nesting while it lives.
  struct Nesting {
    int& depth;
    explicit Nesting(int& d) : depth(++d) {}
    ~Nesting() { --depth; }
  };

 public:
  Parser(const std::string& text, const SymbolTable& symbols) : text_(text), symbols_(symbols) {}

  // The tree of the whole text, or null with error() set.
  NodePtr Parse() {
    Next();
    NodePtr root = ParseConditional();
    if (!failed_ && token_ != Token::kEnd) Unexpected();
    if (failed_) return nullptr;
    return root;
  }

  size_t errorOffset() const { return errorOffset_; }
  const std::string& errorMessage() const { return errorMessage_; }
  std::vector<std::string>& reads() { return reads_; }
  bool readsState() const { return readsState_; }
  int arguments() const { return arguments_; }

 private:
  // Records the first error; returns null for the caller to pass on.
  NodePtr Fail(size_t offset, const std::string& message) {
    if (!failed_) {
      failed_ = true;
      errorOffset_ = offset;
      errorMessage_ = message;
    }
    token_ = Token::kError;
    return nullptr;
  }

  NodePtr Unexpected() {
    if (token_ == Token::kEnd) return Fail(tokenOffset_, "unexpected end of expression");
    return Fail(tokenOffset_, "unexpected '" + TokenText() + "'");
  }

  std::string TokenText() const { return text_.substr(tokenOffset_, tokenLength_); }

  void Set(Token t, size_t length) {
    token_ = t;
    tokenLength_ = length;
    pos_ += length;
  }

  // Reads the next token (after an error, stays at kError).
  void Next() {
    if (failed_) return;
    const size_t n = text_.size();
    while (pos_ < n && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' ||
                        text_[pos_] == '\r'))
      pos_++;
    tokenOffset_ = pos_;
    if (pos_ == n) return Set(Token::kEnd, 0);
    const char c = text_[pos_];
    const char d = pos_ + 1 < n ? text_[pos_ + 1] : '\0';
    if (IsDigit(c) || (c == '.' && IsDigit(d))) return LexNumber();
    if (IsNameStart(c)) {
      size_t end = pos_;
      while (end < n && IsNameChar(text_[end])) end++;
      const std::string word = text_.substr(pos_, end - pos_);
      Token t = word == "and" ? Token::kAnd : word == "or" ? Token::kOr
                : word == "not" ? Token::kNot : Token::kName;
      return Set(t, end - pos_);
    }
    switch (c) {
      case '(': return Set(Token::kLParen, 1);
      case ')': return Set(Token::kRParen, 1);
      case ',': return Set(Token::kComma, 1);
      case '?': return Set(Token::kQuestion, 1);
      case ':': return Set(Token::kColon, 1);
      case '+': return Set(Token::kPlus, 1);
      case '-': return Set(Token::kMinus, 1);
      case '*': return Set(Token::kStar, 1);
      case '/': return Set(Token::kSlash, 1);
      case '<': return d == '=' ? Set(Token::kLe, 2) : Set(Token::kLt, 1);
      case '>': return d == '=' ? Set(Token::kGe, 2) : Set(Token::kGt, 1);
      case '!': return d == '=' ? Set(Token::kNe, 2) : Set(Token::kNot, 1);
      case '=':
        if (d == '=') return Set(Token::kEq, 2);
        Fail(pos_, "unexpected '='; equality is written '=='");
        return;
      case '&':
        if (d == '&') return Set(Token::kAnd, 2);
        Fail(pos_, "unexpected '&'; logical and is written '&&' or 'and'");
        return;
      case '|':
        if (d == '|') return Set(Token::kOr, 2);
        Fail(pos_, "unexpected '|'; logical or is written '||' or 'or'");
        return;
      default:
        break;
    }
    char what[40];
    if (c > ' ' && c < 127)
      std::snprintf(what, sizeof what, "unexpected character '%c'", c);
    else
      std::snprintf(what, sizeof what, "unexpected byte 0x%02x", static_cast<unsigned char>(c));
    Fail(pos_, what);
  }

  // A decimal number: digits with an optional fraction and exponent, read
  // correctly rounded (std::from_chars, which unlike strtod does not depend
  // on the locale). Letters, digits or dots right after it make it malformed.
  void LexNumber() {
    const size_t n = text_.size();
    size_t end = pos_;
    bool bad = false;
    while (end < n && IsDigit(text_[end])) end++;
    if (end < n && text_[end] == '.') {
      end++;
      while (end < n && IsDigit(text_[end])) end++;
    }
    if (end < n && (text_[end] == 'e' || text_[end] == 'E')) {
      end++;
      if (end < n && (text_[end] == '+' || text_[end] == '-')) end++;
      bad = end == n || !IsDigit(text_[end]);
      while (end < n && IsDigit(text_[end])) end++;
    }
    while (end < n && IsNameChar(text_[end])) {
      end++;
      bad = true;
    }
    const std::string lexeme = text_.substr(pos_, end - pos_);
    if (bad) {
      Fail(pos_, "malformed number '" + lexeme + "'");
      return;
    }
    const char* first = text_.data() + pos_;
    const char* last = text_.data() + end;
    std::from_chars_result r = std::from_chars(first, last, number_);
    if (r.ec == std::errc::result_out_of_range) {
      Fail(pos_, "number '" + lexeme + "' is out of range");
      return;
    }
    if (r.ec != std::errc() || r.ptr != last) {
      Fail(pos_, "malformed number '" + lexeme + "'");
      return;
    }
    Set(Token::kNumber, end - pos_);
  }

  // conditional: or-expression [ '?' conditional ':' conditional ]. A chain
  // c1 ? a1 : c2 ? a2 : ... : e, which may be long, is read in a loop and
  // built from its end; a conditional in a first branch nests.
  NodePtr ParseConditional() {
    struct Arm {
      size_t at;
      NodePtr condition, value;
    };
    std::vector<Arm> arms;
    NodePtr last = ParseLevel(0);
    while (last && token_ == Token::kQuestion) {
      Arm arm{tokenOffset_, std::move(last), nullptr};
      Next();
      {
        Nesting nesting(depth_);
        if (depth_ > kMaxNesting) return Fail(tokenOffset_, kTooDeep);
        arm.value = ParseConditional();
      }
      if (!arm.value) return nullptr;
      if (token_ != Token::kColon)
        return Fail(tokenOffset_, "expected ':' after the first branch of '?'");
      Next();
      arms.push_back(std::move(arm));
      last = ParseLevel(0);
    }
    for (; last && !arms.empty(); arms.pop_back()) {
      Arm& arm = arms.back();
      last = Checked(MakeConditional(arm.at, std::move(arm.condition), std::move(arm.value),
                                     std::move(last)));
    }
    return last;
  }

  // One level of left-associative binary operators.
  NodePtr ParseLevel(int level) {
    if (level == kUnaryLevel) return ParseUnary();
    NodePtr left = ParseLevel(level + 1);
    while (left && LevelOf(token_) == level) {
      const Token op = token_;
      const size_t at = tokenOffset_;
      Next();
      NodePtr right = ParseLevel(level + 1);
      if (!right) return nullptr;
      if (op == Token::kAnd || op == Token::kOr)
        left = MakeLogic(op == Token::kAnd ? Node::kAnd : Node::kOr, at, std::move(left),
                         std::move(right));
      else
        left = MakeBinary(BinaryOf(op), at, std::move(left), std::move(right));
      left = Checked(std::move(left));
    }
    return left;
  }

  NodePtr ParseUnary() {
    Nesting nesting(depth_);
    if (depth_ > kMaxNesting) return Fail(tokenOffset_, kTooDeep);
    const Token op = token_;
    if (op != Token::kMinus && op != Token::kPlus && op != Token::kNot) return ParsePrimary();
    const size_t at = tokenOffset_;
    Next();
    NodePtr v = ParseUnary();
    if (!v || op == Token::kPlus) return v;  // unary plus leaves a double as it is
    return MakeUnary(op == Token::kMinus ? Unary::kNeg : Unary::kNot, at, std::move(v));
  }

  NodePtr ParsePrimary() {
    switch (token_) {
      case Token::kNumber: {
        NodePtr n = MakeConstant(number_, tokenOffset_);
        Next();
        return n;
      }
      case Token::kLParen: {
        Next();
        NodePtr e = ParseConditional();
        if (!e) return nullptr;
        if (token_ != Token::kRParen) return Fail(tokenOffset_, "expected ')' to match '('");
        Next();
        return e;
      }
      case Token::kName:
        return ParseName();
      default:
        return Unexpected();
    }
  }

  NodePtr ParseName() {
    const std::string name = TokenText();
    const size_t at = tokenOffset_;
    Next();
    if (token_ == Token::kLParen) return ParseCall(name, at);
    if (name == "if") return Fail(at, "expected '(' after 'if'");
    const SymbolTable::Symbol* s = symbols_.Find(name);
    if (!s) return Fail(at, "unknown name '" + name + "'");
    bool seen = false;
    for (const std::string& r : reads_) seen = seen || r == name;
    if (!seen) reads_.push_back(name);
    NodePtr n = MakeConstant(s->constant, at);
    switch (s->kind) {
      case SymbolTable::Kind::kStateVariable:
        n->kind = Node::kState;
        n->state = s->state;
        readsState_ = true;
        break;
      case SymbolTable::Kind::kGlobal:
        n->kind = Node::kGlobal;
        n->global = s->global;
        break;
      case SymbolTable::Kind::kArgument:
        n->kind = Node::kArgument;
        n->argument = s->argument;
        arguments_ = std::max(arguments_, s->argument + 1);
        break;
      case SymbolTable::Kind::kConstant:
        break;
    }
    return n;
  }

  NodePtr ParseCall(const std::string& name, size_t at) {
    const Function* f = nullptr;
    for (const Function& g : kFunctions)
      if (name == g.name) f = &g;
    if (!f) {
      if (symbols_.Find(name)) return Fail(at, "'" + name + "' is not a function");
      return Fail(at, "unknown function '" + name + "'");
    }
    Next();  // the '('
    std::vector<NodePtr> args;
    if (token_ != Token::kRParen) {
      for (;;) {
        NodePtr a = ParseConditional();
        if (!a) return nullptr;
        args.push_back(std::move(a));
        if (token_ != Token::kComma) break;
        Next();
      }
    }
    if (token_ != Token::kRParen)
      return Fail(tokenOffset_, "expected ')' after function arguments");
    Next();
    if (static_cast<int>(args.size()) != f->arity) {
      const bool isIf = f->arity == 3;
      return Fail(at, (isIf ? "'if'" : "function '" + name + "'") + " takes " +
                          std::to_string(f->arity) + (f->arity == 1 ? " argument" : " arguments") +
                          ", not " + std::to_string(args.size()));
    }
    switch (f->arity) {
      case 1:
        return MakeUnary(f->unary, at, std::move(args[0]));
      case 2:
        return Checked(MakeBinary(f->binary, at, std::move(args[0]), std::move(args[1])));
      default:
        return Checked(
            MakeConditional(at, std::move(args[0]), std::move(args[1]), std::move(args[2])));
    }
  }

  // Refuses a tree grown too tall (long chains of binary operators).
  NodePtr Checked(NodePtr n) {
    if (n->height > kMaxHeight) return Fail(n->offset, kTooDeep);
    return n;
  }

  const std::string& text_;
  const SymbolTable& symbols_;
  size_t pos_ = 0;
  Token token_ = Token::kEnd;
  size_t tokenOffset_ = 0;
  size_t tokenLength_ = 0;
  double number_ = 0.0;
  int depth_ = -1;  // levels of nesting around the operand being parsed
  bool failed_ = false;
  size_t errorOffset_ = 0;
  std::string errorMessage_;
  std::vector<std::string> reads_;
  bool readsState_ = false;
  int arguments_ = 0;
};

// Generates the instructions of a tree, tracking the stack depth they need.
class Generator {
 public:
  // The code of the tree, or false (with the offset of the subexpression)
  // when it needs more than kMaxDepth stack entries.
  bool Generate(const Node& root, std::vector<Instruction>* code, size_t* deepAt) {
    Emit(root);
    Add(kEnd);
    if (tooDeep_) {
      *deepAt = deepAt_;
      return false;
    }
    *code = std::move(code_);
    return true;
  }

 private:
  static Form FormOf(const Node& n) {
    switch (n.kind) {
      case Node::kConstant: return kConstant;
      case Node::kState: return kState;
      case Node::kGlobal: return kGlobal;
      case Node::kArgument: return kArgument;
      default: return kFromStack;
    }
  }

  // Appends an instruction (carrying the operand of leaf, if given) and
  // returns its position.
  size_t Add(Opcode op, const Node* leaf = nullptr) {
    Instruction in;
    in.op = op;
    if (leaf) {
      switch (leaf->kind) {
        case Node::kConstant: in.constant = leaf->constant; break;
        case Node::kState: in.state = leaf->state; break;
        case Node::kGlobal: in.global = leaf->global; break;
        case Node::kArgument: in.index = leaf->argument; break;
        default: break;
      }
    }
    code_.push_back(in);
    return code_.size() - 1;
  }

  void Push(const Node& n) {
    if (++depth_ > kMaxDepth && !tooDeep_) {
      tooDeep_ = true;
      deepAt_ = n.offset;
    }
  }

  void JumpHere(size_t from) { code_[from].index = static_cast<int32_t>(code_.size()); }

  void Emit(const Node& n) {
    const Form form = FormOf(n);
    if (form != kFromStack) {
      Push(n);
      Add(LoadOpcode(form), &n);
      return;
    }
    switch (n.kind) {
      case Node::kUnary:
        Emit(*n.a);
        Add(UnaryOpcode(n.unary));
        break;
      case Node::kBinary: {
        const Form left = FormOf(*n.a);
        const Form right = FormOf(*n.b);
        if (left >= kState && right == kConstant) {
          Push(n);
          Add(FusedOpcode(n.binary, left), n.a.get());
          Add(kEnd, n.b.get());  // data only: skipped
          break;
        }
        Emit(*n.a);
        if (right == kFromStack) {
          Emit(*n.b);
          depth_--;
        }
        Add(BinaryOpcode(n.binary, right), n.b.get());
        break;
      }
      case Node::kAnd:
      case Node::kOr: {
        std::vector<size_t> exits;
        EmitLogic(n, &exits);
        for (size_t at : exits) JumpHere(at);
        break;
      }
      case Node::kConditional:
        EmitConditional(n);
        break;
      default:
        break;
    }
  }

  // A chain a and b and c jumps out of the whole chain at the first false
  // operand (the inner `and` would give 0.0 and the outer jump on it).
  void EmitLogic(const Node& n, std::vector<size_t>* exits) {
    if (n.a->kind == n.kind)
      EmitLogic(*n.a, exits);
    else
      Emit(*n.a);
    exits->push_back(Add(n.kind == Node::kAnd ? kAndJump : kOrJump));
    depth_--;  // on to the right operand, the left one is popped
    Emit(*n.b);
    if (!IsBoolean(*n.b)) Add(UnaryOpcode(Unary::kTruth));
  }

  void EmitConditional(const Node& n) {
    Emit(*n.a);
    if (IsConstant(*n.b) && IsConstant(*n.c)) {
      Add(kSelect, n.b.get());
      Add(kEnd, n.c.get());  // data only: skipped by kSelect
      return;
    }
    const size_t ifFalse = Add(kJumpIfFalse);
    depth_--;
    const int depth = depth_;
    Emit(*n.b);
    const size_t toEnd = Add(kJump);
    JumpHere(ifFalse);
    depth_ = depth;
    Emit(*n.c);
    JumpHere(toEnd);
  }

  std::vector<Instruction> code_;
  int depth_ = 0;  // values on the stack at this point of the code
  bool tooDeep_ = false;
  size_t deepAt_ = 0;
};

ExpressionError Locate(const std::string& text, size_t offset, const std::string& message) {
  ExpressionError e;
  e.offset = offset;
  e.message = message;
  size_t lineStart = 0;
  for (size_t i = 0; i < offset && i < text.size(); i++) {
    if (text[i] == '\n') {
      e.line++;
      lineStart = i + 1;
    }
  }
  e.column = static_cast<int>(offset - lineStart) + 1;
  return e;
}

}  // namespace

bool ExpressionCompiler::Compile(const std::string& text, const SymbolTable& symbols,
                                 Expression* out, ExpressionError* error) {
  Parser parser(text, symbols);
  NodePtr root = parser.Parse();
  if (!root) {
    if (error) *error = Locate(text, parser.errorOffset(), parser.errorMessage());
    return false;
  }
  Expression e;
  size_t deepAt = 0;
  if (!Generator().Generate(*root, &e.code_, &deepAt)) {
    if (error) *error = Locate(text, deepAt, kTooDeep);
    return false;
  }
  e.isConstant_ = IsConstant(*root);
  e.constant_ = root->constant;
  e.text_ = text;
  e.reads_ = std::move(parser.reads());
  e.readsState_ = parser.readsState();
  e.arguments_ = parser.arguments();
  *out = std::move(e);
  return true;
}
