// Reading a model file. toml++ parses the file and keeps every node's place;
// this file checks the model's shape, names and formulas on top of it and
// fills the description.
#include "model/ModelFile.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <toml++/toml.h>

#include "model/Expression.h"
#include "model/ExpressionSymbols.h"

std::string ModelFileError::Format() const {
  if (line <= 0) return path + ": " + message;
  return path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

namespace {

const size_t kMaxErrors = 40;

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

std::string NumberText(double v) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

const char* TypeName(const toml::node& n) {
  switch (n.type()) {
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a number";
    case toml::node_type::boolean: return "a boolean";
    default: return "a date or time";
  }
}

SourcePlace PlaceOf(const toml::source_region& r) {
  return SourcePlace{static_cast<int>(r.begin.line), static_cast<int>(r.begin.column)};
}

class Loader {
 public:
  Loader(const std::string& text, const std::string& path, ModelDescription* d,
         std::vector<ModelFileError>* errors)
      : text_(text), path_(path), d_(d), errors_(errors) {}

  bool Load();

 private:
  void Error(SourcePlace at, const std::string& message) {
    if (errors_->size() - errorsBefore_ < kMaxErrors)
      errors_->push_back(ModelFileError{path_, at.line, at.column, message});
    failed_ = true;
  }

  // Reports every key of t that is not in allowed.
  void CheckFields(const toml::table& t, const std::set<std::string>& allowed,
                   const std::string& owner);
  // The node of a field; null (reported when required) when absent.
  const toml::node* Field(const toml::table& t, const std::string& key, bool required,
                          const std::string& owner, SourcePlace ownerAt);
  bool GetString(const toml::table& t, const std::string& key, bool required,
                 const std::string& owner, SourcePlace ownerAt, std::string* out);
  bool GetNumber(const toml::table& t, const std::string& key, bool required,
                 const std::string& owner, SourcePlace ownerAt, double* out);
  // A formula given as a string, a number or a boolean; absent: `fallback`
  // (reported as missing when fallback is null).
  bool GetFormula(const toml::table& t, const std::string& key, const char* fallback,
                  const std::string& owner, SourcePlace ownerAt, ModelFormula* out);
  bool FormulaOf(const toml::node& n, const std::string& what, ModelFormula* out);
  // Where the text of a string node begins in the file.
  SourcePlace TextStart(const toml::node& n) const;
  // Compiles a formula against symbols; reports the compiler's message at
  // its place in the file.
  bool Compile(const ModelFormula& f, const SymbolTable& symbols, const std::string& what,
               Expression* out);
  // The variable of a name, or -1 (reported at `at`).
  int VariableNamed(const std::string& name, SourcePlace at, const std::string& what);

  void LoadAdversary(const toml::table& t);
  void LoadVariables(const toml::node& n);
  void LoadDecisions(const toml::node& n);
  void LoadOutcome(const toml::table& t, DecisionDescription* decision, const std::string& owner);
  void LoadDelay(const toml::node& n, const std::string& owner, DelayDescription* delay);
  void LoadMeasures(const toml::node& n);
  void LoadMeasure(const toml::table& t, MeasureDescription* m, const std::string& owner);
  // The numbers of field `key` (a list or {from, to, step}): finite, not
  // negative and increasing.
  void LoadTimes(const toml::node& n, const std::string& key, const std::string& owner,
                 std::vector<double>* times);
  void LoadImpulse(const toml::table& t, int measure, const std::string& owner);
  // Finds the decisions and outcomes the impulses name.
  void ResolveImpulses();
  void DeriveArcs(const toml::table& t, DecisionDescription* d, const std::string& owner,
                  const std::vector<std::string>& preconditionReads);
  void CheckNames();
  void CheckFormulas();

  const std::string& text_;
  const std::string path_;
  ModelDescription* d_;
  std::vector<ModelFileError>* errors_;
  size_t errorsBefore_ = 0;
  bool failed_ = false;
  std::vector<std::string> lines_;
  std::map<std::string, int> variableIndex_;
  // Per decision: the tables it came from, for the arc lists.
  std::vector<const toml::table*> decisionTables_;
  // The names an impulse gives, resolved once every decision is known.
  struct ImpulseNames {
    int measure = 0;
    std::string owner;
    std::string decision;
    SourcePlace decisionAt;
    std::string outcome;  // empty: the decision itself
    SourcePlace outcomeAt;
  };
  std::vector<ImpulseNames> impulseNames_;
};

void Loader::CheckFields(const toml::table& t, const std::set<std::string>& allowed,
                         const std::string& owner) {
  for (auto&& [key, node] : t) {
    (void)node;
    if (allowed.count(std::string(key.str()))) continue;
    std::string known;
    for (const std::string& a : allowed) known += (known.empty() ? "" : ", ") + a;
    Error(PlaceOf(key.source()), "unknown field " + Quoted(std::string(key.str())) + " in " +
                                     owner + " (known fields: " + known + ")");
  }
}

const toml::node* Loader::Field(const toml::table& t, const std::string& key, bool required,
                                const std::string& owner, SourcePlace ownerAt) {
  const toml::node* n = t.get(key);
  if (!n && required) Error(ownerAt, "missing field " + Quoted(key) + " in " + owner);
  return n;
}

bool Loader::GetString(const toml::table& t, const std::string& key, bool required,
                       const std::string& owner, SourcePlace ownerAt, std::string* out) {
  const toml::node* n = Field(t, key, required, owner, ownerAt);
  if (!n) return false;
  if (!n->is_string()) {
    Error(PlaceOf(n->source()), Quoted(key) + " of " + owner + " must be a string, not " +
                                    TypeName(*n));
    return false;
  }
  *out = n->as_string()->get();
  return true;
}

bool Loader::GetNumber(const toml::table& t, const std::string& key, bool required,
                       const std::string& owner, SourcePlace ownerAt, double* out) {
  const toml::node* n = Field(t, key, required, owner, ownerAt);
  if (!n) return false;
  double v;
  if (n->is_integer())
    v = static_cast<double>(n->as_integer()->get());
  else if (n->is_floating_point())
    v = n->as_floating_point()->get();
  else {
    Error(PlaceOf(n->source()), Quoted(key) + " of " + owner + " must be a number, not " +
                                    TypeName(*n));
    return false;
  }
  if (!std::isfinite(v)) {
    Error(PlaceOf(n->source()), Quoted(key) + " of " + owner + " must be a finite number");
    return false;
  }
  *out = v;
  return true;
}

SourcePlace Loader::TextStart(const toml::node& n) const {
  SourcePlace at = PlaceOf(n.source());
  if (at.line < 1 || at.line > static_cast<int>(lines_.size())) return at;
  const std::string& line = lines_[at.line - 1];
  // Columns count characters: step over (column - 1) UTF-8 sequences.
  size_t i = 0;
  for (int c = 1; c < at.column && i < line.size(); c++) {
    i++;
    while (i < line.size() && (static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) i++;
  }
  std::string rest = line.substr(i);
  if (rest.compare(0, 3, "\"\"\"") == 0 || rest.compare(0, 3, "'''") == 0) {
    // A line break right after the opening delimiter is not part of the text.
    if (rest.size() == 3 || (rest.size() == 4 && rest[3] == '\r')) return SourcePlace{at.line + 1, 1};
    return SourcePlace{at.line, at.column + 3};
  }
  if (!rest.empty() && (rest[0] == '"' || rest[0] == '\'')) return SourcePlace{at.line, at.column + 1};
  return at;
}

bool Loader::FormulaOf(const toml::node& n, const std::string& what, ModelFormula* out) {
  out->at = PlaceOf(n.source());
  if (n.is_string()) {
    out->text = n.as_string()->get();
    out->at = TextStart(n);
    return true;
  }
  if (n.is_integer()) {
    out->text = std::to_string(n.as_integer()->get());
    return true;
  }
  if (n.is_boolean()) {
    out->text = n.as_boolean()->get() ? "1" : "0";
    return true;
  }
  if (n.is_floating_point()) {
    double v = n.as_floating_point()->get();
    if (!std::isfinite(v)) {
      Error(out->at, what + " must be a finite number");
      return false;
    }
    out->text = NumberText(v);
    return true;
  }
  Error(out->at, what + " must be a formula (a string) or a number, not " + TypeName(n));
  return false;
}

bool Loader::GetFormula(const toml::table& t, const std::string& key, const char* fallback,
                        const std::string& owner, SourcePlace ownerAt, ModelFormula* out) {
  const toml::node* n = Field(t, key, fallback == nullptr, owner, ownerAt);
  if (!n) {
    if (!fallback) return false;
    out->text = fallback;
    out->at = SourcePlace{};
    return true;
  }
  return FormulaOf(*n, Quoted(key) + " of " + owner, out);
}

bool Loader::Compile(const ModelFormula& f, const SymbolTable& symbols, const std::string& what,
                     Expression* out) {
  ExpressionError e;
  if (Expression::Compile(f.text, symbols, out, &e)) return true;
  SourcePlace at = f.at;
  if (e.line > 1) {
    at.line += e.line - 1;
    at.column = e.column;
  } else {
    at.column += e.column - 1;
  }
  Error(at, "in " + what + ": " + e.message);
  return false;
}

int Loader::VariableNamed(const std::string& name, SourcePlace at, const std::string& what) {
  auto it = variableIndex_.find(name);
  if (it != variableIndex_.end()) return it->second;
  Error(at, "unknown variable " + Quoted(name) + " in " + what);
  return -1;
}

void Loader::LoadAdversary(const toml::table& t) {
  const std::string owner = "[adversary]";
  SourcePlace at = PlaceOf(t.source());
  CheckFields(t, {"cost_weight", "detection_weight", "payoff_weight", "cost_discount",
                  "payoff_discount", "detection_discount", "planning_horizon", "cost_utility",
                  "detection_utility", "payoff_utility"},
              owner);
  AdversaryDescription& a = d_->adversary;
  GetNumber(t, "cost_weight", true, owner, at, &a.costWeight);
  GetNumber(t, "detection_weight", true, owner, at, &a.detectionWeight);
  GetNumber(t, "payoff_weight", true, owner, at, &a.payoffWeight);
  GetNumber(t, "cost_discount", false, owner, at, &a.costDiscount);
  GetNumber(t, "payoff_discount", false, owner, at, &a.payoffDiscount);
  GetNumber(t, "detection_discount", false, owner, at, &a.detectionDiscount);
  if (const toml::node* n = Field(t, "planning_horizon", true, owner, at)) {
    if (!n->is_integer() || n->as_integer()->get() < 1 || n->as_integer()->get() > 50)
      Error(PlaceOf(n->source()), "'planning_horizon' of [adversary] must be an integer from 1 to 50");
    else
      a.planningHorizon = static_cast<int>(n->as_integer()->get());
  }
  GetFormula(t, "cost_utility", nullptr, owner, at, &a.costUtility);
  GetFormula(t, "detection_utility", nullptr, owner, at, &a.detectionUtility);
  GetFormula(t, "payoff_utility", nullptr, owner, at, &a.payoffUtility);
}

// Each entry of an array of tables, with its place; reports anything else.
void ForEachTable(const toml::node& n, const std::string& what,
                  const std::function<void(const std::string&)>& error,
                  const std::function<void(const toml::table&)>& each) {
  const toml::array* list = n.as_array();
  if (!list) {
    error(what);
    return;
  }
  for (const toml::node& e : *list) {
    if (const toml::table* t = e.as_table())
      each(*t);
    else
      error(what);
  }
}

void Loader::LoadVariables(const toml::node& n) {
  ForEachTable(
      n, "variable",
      [&](const std::string&) {
        Error(PlaceOf(n.source()), "'variable' must be an array of tables ([[variable]])");
      },
      [&](const toml::table& t) {
        SourcePlace at = PlaceOf(t.source());
        VariableDescription v;
        v.at = at;
        std::string owner = "variable";
        if (GetString(t, "name", true, owner, at, &v.name)) owner = "variable " + Quoted(v.name);
        CheckFields(t, {"name", "kind", "initial", "payoff"}, owner);
        std::string kind;
        if (GetString(t, "kind", true, owner, at, &kind)) {
          static const std::map<std::string, VariableKind> kinds = {
              {"access", VariableKind::kAccess},
              {"knowledge", VariableKind::kKnowledge},
              {"skill", VariableKind::kSkill},
              {"goal", VariableKind::kGoal}};
          auto it = kinds.find(kind);
          if (it == kinds.end())
            Error(PlaceOf(t.get("kind")->source()),
                  "unknown kind " + Quoted(kind) + " of " + owner +
                      " (kinds: access, knowledge, skill, goal)");
          else
            v.kind = it->second;
        }
        if (const toml::node* i = t.get("initial")) {
          if (!i->is_integer() || i->as_integer()->get() < -32768 || i->as_integer()->get() > 32767)
            Error(PlaceOf(i->source()),
                  "'initial' of " + owner + " must be an integer from -32768 to 32767");
          else
            v.initial = static_cast<short>(i->as_integer()->get());
        }
        if (const toml::node* p = t.get("payoff")) {
          if (v.kind != VariableKind::kGoal)
            Error(PlaceOf(p->source()), "'payoff' is only for goals; " + owner + " is not a goal");
          else
            GetNumber(t, "payoff", true, owner, at, &v.payoff);
        } else if (v.kind == VariableKind::kGoal) {
          Error(at, "missing field 'payoff' in " + owner + " (a goal)");
        }
        if (!v.name.empty()) {
          if (!SymbolTable::IsValidName(v.name))
            Error(PlaceOf(t.get("name")->source()),
                  Quoted(v.name) + " is not a valid variable name (letters, digits, '_' and "
                                   "'.', not starting with a digit, not a reserved word)");
          else if (!variableIndex_.emplace(v.name, static_cast<int>(d_->variables.size())).second)
            Error(PlaceOf(t.get("name")->source()), "duplicate variable " + Quoted(v.name));
        }
        d_->variables.push_back(v);
      });
}

void Loader::LoadDelay(const toml::node& n, const std::string& owner, DelayDescription* delay) {
  delay->at = PlaceOf(n.source());
  if (!n.is_table()) {
    delay->kind = DelayKind::kDeterministic;
    delay->parameters.resize(1);
    FormulaOf(n, "'delay' of " + owner, &delay->parameters[0]);
    return;
  }
  const toml::table& t = *n.as_table();
  const std::string what = "the delay of " + owner;
  std::string name;
  if (!GetString(t, "distribution", true, what, delay->at, &name)) return;
  if (!DelayKindNamed(name, &delay->kind)) {
    Error(PlaceOf(t.get("distribution")->source()),
          "unknown distribution " + Quoted(name) + " in " + what +
              " (distributions: deterministic, exponential, uniform, erlang, weibull, normal, "
              "lognormal, gamma, beta, triangular, pareto, geometric, binomial)");
    return;
  }
  const std::vector<std::string>& names = DelayParameterNames(delay->kind);
  std::set<std::string> allowed(names.begin(), names.end());
  allowed.insert("distribution");
  CheckFields(t, allowed, what + " (" + name + ")");
  delay->parameters.resize(names.size());
  for (size_t i = 0; i < names.size(); i++)
    GetFormula(t, names[i], nullptr, what + " (" + name + ")", delay->at, &delay->parameters[i]);
}

void Loader::LoadOutcome(const toml::table& t, DecisionDescription* decision,
                         const std::string& decisionOwner) {
  SourcePlace at = PlaceOf(t.source());
  OutcomeDescription o;
  o.at = at;
  std::string owner = "outcome of " + decisionOwner;
  if (GetString(t, "name", true, owner, at, &o.name))
    owner = "outcome " + Quoted(o.name) + " of " + decisionOwner;
  CheckFields(t, {"name", "probability", "detection", "effects", "delay"}, owner);
  GetFormula(t, "probability", nullptr, owner, at, &o.probability);
  GetFormula(t, "detection", "0", owner, at, &o.detection);
  if (const toml::node* e = t.get("effects")) {
    if (!e->is_table()) {
      Error(PlaceOf(e->source()), "'effects' of " + owner +
                                      " must be a table of variable = value, not " + TypeName(*e));
    } else {
      for (auto&& [key, value] : *e->as_table()) {
        std::string var(key.str());
        EffectDescription effect;
        effect.variable = VariableNamed(var, PlaceOf(key.source()), "the effects of " + owner);
        if (effect.variable >= 0 && d_->variables[effect.variable].kind == VariableKind::kSkill)
          Error(PlaceOf(key.source()), "effect on skill " + Quoted(var) + " in " + owner +
                                           ": skills are constant");
        if (FormulaOf(value, "the effect on " + Quoted(var) + " of " + owner, &effect.value) &&
            effect.variable >= 0)
          o.effects.push_back(effect);
      }
    }
  }
  if (const toml::node* delay = Field(t, "delay", true, owner, at)) LoadDelay(*delay, owner, &o.delay);
  decision->outcomes.push_back(o);
}

void Loader::LoadDecisions(const toml::node& n) {
  ForEachTable(
      n, "decision",
      [&](const std::string&) {
        Error(PlaceOf(n.source()), "'decision' must be an array of tables ([[decision]])");
      },
      [&](const toml::table& t) {
        SourcePlace at = PlaceOf(t.source());
        DecisionDescription d;
        d.at = at;
        std::string owner = "decision";
        if (GetString(t, "name", true, owner, at, &d.name)) owner = "decision " + Quoted(d.name);
        CheckFields(t, {"name", "precondition", "cost", "affects", "enabled_by", "outcome"}, owner);
        GetFormula(t, "precondition", "1", owner, at, &d.precondition);
        GetFormula(t, "cost", "0", owner, at, &d.cost);
        if (const toml::node* list = Field(t, "outcome", true, owner, at)) {
          ForEachTable(
              *list, "outcome",
              [&](const std::string&) {
                Error(PlaceOf(list->source()),
                      "'outcome' of " + owner + " must be an array of tables ([[decision.outcome]])");
              },
              [&](const toml::table& o) { LoadOutcome(o, &d, owner); });
          if (list->is_array() && list->as_array()->empty())
            Error(PlaceOf(list->source()), owner + " has no outcome");
        }
        d_->decisions.push_back(d);
        decisionTables_.push_back(&t);
      });
}

void Loader::LoadTimes(const toml::node& n, const std::string& key, const std::string& owner,
                       std::vector<double>* times) {
  SourcePlace at = PlaceOf(n.source());
  const std::string field = Quoted(key);
  if (const toml::array* list = n.as_array()) {
    for (const toml::node& e : *list) {
      double v;
      if (e.is_integer())
        v = static_cast<double>(e.as_integer()->get());
      else if (e.is_floating_point())
        v = e.as_floating_point()->get();
      else {
        Error(PlaceOf(e.source()),
              field + " of " + owner + " must hold numbers, not " + TypeName(e));
        return;
      }
      times->push_back(v);
    }
  } else if (n.is_integer() || n.is_floating_point()) {
    times->push_back(n.is_integer() ? static_cast<double>(n.as_integer()->get())
                                    : n.as_floating_point()->get());
  } else if (const toml::table* t = n.as_table()) {
    const std::string what = (key == "times" ? "the times of " : "the ends of ") + owner;
    CheckFields(*t, {"from", "to", "step"}, what);
    double from = 0, to = 0, step = 0;
    bool ok = GetNumber(*t, "from", true, what, at, &from);
    ok = GetNumber(*t, "to", true, what, at, &to) && ok;
    ok = GetNumber(*t, "step", true, what, at, &step) && ok;
    if (!ok) return;
    double count = (to - from) / step;
    if (!(step > 0) || !(to >= from) || std::fabs(count - std::round(count)) > 1e-9 * (1 + count) ||
        count > 100000) {
      Error(at, what + ": 'step' must be positive and divide 'to' - 'from' into at most 100000 steps");
      return;
    }
    long steps = std::lround(count);
    for (long i = 0; i <= steps; i++) times->push_back(from + static_cast<double>(i) * step);
  } else {
    Error(at, field + " of " + owner +
                  " must be a number, an array of numbers or a table {from, to, step}");
    return;
  }
  if (times->empty()) Error(at, field + " of " + owner + " is empty");
  for (size_t i = 0; i < times->size(); i++) {
    const double v = (*times)[i];
    if (!std::isfinite(v) || v < 0 || (i > 0 && !(v > (*times)[i - 1]))) {
      Error(at, field + " of " + owner + " must be finite, not negative and increasing");
      return;
    }
  }
}

void Loader::LoadMeasures(const toml::node& n) {
  std::set<std::string> names;
  ForEachTable(
      n, "measure",
      [&](const std::string&) {
        Error(PlaceOf(n.source()), "'measure' must be an array of tables ([[measure]])");
      },
      [&](const toml::table& t) {
        SourcePlace at = PlaceOf(t.source());
        MeasureDescription m;
        m.at = at;
        std::string owner = "measure";
        if (GetString(t, "name", true, owner, at, &m.name)) {
          owner = "measure " + Quoted(m.name);
          if (m.name.empty()) Error(PlaceOf(t.get("name")->source()), "a measure needs a name");
          if (!names.insert(m.name).second)
            Error(PlaceOf(t.get("name")->source()), "duplicate measure " + Quoted(m.name));
        }
        LoadMeasure(t, &m, owner);
      });
}

void Loader::LoadMeasure(const toml::table& t, MeasureDescription* m, const std::string& owner) {
  SourcePlace at = m->at;
  std::string kind = "instant";
  if (GetString(t, "kind", false, owner, at, &kind) && kind != "instant" && kind != "interval") {
    Error(PlaceOf(t.get("kind")->source()),
          "unknown kind " + Quoted(kind) + " of " + owner + " (kinds: instant, interval)");
    d_->measures.push_back(*m);
    return;
  }
  m->interval = kind == "interval";
  const int index = static_cast<int>(d_->measures.size());
  if (!m->interval) {
    if (const toml::node* impulse = t.get("impulse"))
      Error(PlaceOf(impulse->source()), "impulse rewards belong to measures of kind 'interval'; " +
                                            owner + " is observed at instants");
    std::set<std::string> fields = {"name", "kind", "value", "times"};
    if (t.get("impulse")) fields.insert("impulse");
    CheckFields(t, fields, owner);
    GetFormula(t, "value", nullptr, owner, at, &m->value);
    if (const toml::node* times = Field(t, "times", true, owner, at))
      LoadTimes(*times, "times", owner, &m->times);
    d_->measures.push_back(*m);
    return;
  }
  CheckFields(t, {"name", "kind", "value", "start", "end", "impulse"}, owner);
  GetFormula(t, "value", "0", owner, at, &m->value);
  if (GetNumber(t, "start", false, owner, at, &m->start) && m->start < 0)
    Error(PlaceOf(t.get("start")->source()), "'start' of " + owner + " must not be negative");
  if (const toml::node* end = Field(t, "end", true, owner, at)) {
    LoadTimes(*end, "end", owner, &m->times);
    if (!m->times.empty() && !(m->times[0] > m->start))
      Error(PlaceOf(end->source()), "'end' of " + owner + ": the interval ending at " +
                                        NumberText(m->times[0]) + " ends before its start " +
                                        NumberText(m->start) +
                                        "; every end must be after the start");
  }
  d_->measures.push_back(*m);
  if (const toml::node* list = t.get("impulse")) {
    ForEachTable(
        *list, "impulse",
        [&](const std::string&) {
          Error(PlaceOf(list->source()),
                "'impulse' of " + owner + " must be an array of tables ([[measure.impulse]])");
        },
        [&](const toml::table& i) { LoadImpulse(i, index, owner); });
  }
}

void Loader::LoadImpulse(const toml::table& t, int measure, const std::string& measureOwner) {
  std::vector<ImpulseDescription>& impulses = d_->measures[measure].impulses;
  ImpulseDescription impulse;
  impulse.at = PlaceOf(t.source());
  ImpulseNames names;
  names.measure = measure;
  names.owner = "impulse " + std::to_string(impulses.size() + 1) + " of " + measureOwner;
  CheckFields(t, {"decision", "outcome", "value"}, names.owner);
  if (GetString(t, "decision", true, names.owner, impulse.at, &names.decision))
    names.decisionAt = PlaceOf(t.get("decision")->source());
  if (GetString(t, "outcome", false, names.owner, impulse.at, &names.outcome)) {
    names.outcomeAt = PlaceOf(t.get("outcome")->source());
    if (names.outcome.empty())
      Error(names.outcomeAt, "'outcome' of " + names.owner + " must name an outcome");
  }
  GetFormula(t, "value", nullptr, names.owner, impulse.at, &impulse.value);
  impulses.push_back(impulse);
  impulseNames_.push_back(names);
}

void Loader::ResolveImpulses() {
  std::vector<size_t> next(d_->measures.size(), 0);
  for (const ImpulseNames& n : impulseNames_) {
    ImpulseDescription& impulse = d_->measures[n.measure].impulses[next[n.measure]++];
    if (n.decision.empty()) continue;
    int found = -1;
    for (size_t d = 0; d < d_->decisions.size(); d++)
      if (d_->decisions[d].name == n.decision) found = static_cast<int>(d);
    if (found < 0) {
      Error(n.decisionAt, "unknown decision " + Quoted(n.decision) + " in " + n.owner);
      continue;
    }
    impulse.decision = found;
    if (n.outcome.empty()) continue;
    const std::vector<OutcomeDescription>& outcomes = d_->decisions[found].outcomes;
    for (size_t o = 0; o < outcomes.size(); o++)
      if (outcomes[o].name == n.outcome) impulse.outcome = static_cast<int>(o);
    if (impulse.outcome < 0) {
      std::string known;
      for (const OutcomeDescription& o : outcomes) known += (known.empty() ? "" : ", ") + o.name;
      Error(n.outcomeAt, "unknown outcome " + Quoted(n.outcome) + " of decision " +
                             Quoted(n.decision) + " in " + n.owner + " (its outcomes: " + known +
                             ")");
    }
  }
}

void Loader::DeriveArcs(const toml::table& t, DecisionDescription* d, const std::string& owner,
                        const std::vector<std::string>& preconditionReads) {
  auto listed = [&](const char* key, std::vector<int>* out) {
    const toml::node* n = t.get(key);
    if (!n) return false;
    const toml::array* list = n->as_array();
    if (!list) {
      Error(PlaceOf(n->source()), Quoted(key) + " of " + owner + " must be an array of variable names");
      return true;
    }
    for (const toml::node& e : *list) {
      if (!e.is_string()) {
        Error(PlaceOf(e.source()), Quoted(key) + " of " + owner + " must hold variable names, not " +
                                       TypeName(e));
        continue;
      }
      int v = VariableNamed(e.as_string()->get(), PlaceOf(e.source()), Quoted(key) + " of " + owner);
      if (v >= 0) out->push_back(v);
    }
    return true;
  };
  if (!listed("affects", &d->affects)) {
    // Written variables, then the precondition's, skills (constant) left out.
    auto add = [&](int v) {
      if (v < 0 || d_->variables[v].kind == VariableKind::kSkill) return;
      for (int w : d->affects)
        if (w == v) return;
      d->affects.push_back(v);
    };
    for (const OutcomeDescription& o : d->outcomes)
      for (const EffectDescription& e : o.effects) add(e.variable);
    for (const std::string& name : preconditionReads) {
      auto it = variableIndex_.find(name);
      if (it != variableIndex_.end()) add(it->second);
    }
  }
  if (!listed("enabled_by", &d->enabledBy) && !d->affects.empty())
    d->enabledBy.push_back(d->affects[0]);
}

void Loader::CheckNames() {
  std::set<std::string> decisionNames, stepNames, generated;
  for (const DecisionDescription& d : d_->decisions) {
    if (d.name.empty()) continue;
    if (!SymbolTable::IsValidName(d.name) || d.name.find('.') != std::string::npos)
      Error(d.at, Quoted(d.name) + " is not a valid decision name (letters, digits and '_', "
                                   "not starting with a digit)");
    if (!decisionNames.insert(d.name).second) Error(d.at, "duplicate decision " + Quoted(d.name));
    generated.insert(d.name + "Chosen");
    generated.insert(d.name + "Weight");
    for (const OutcomeDescription& o : d.outcomes) {
      if (o.name.empty()) continue;
      bool valid = true;
      for (char c : o.name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) valid = false;
      if (!valid)
        Error(o.at, Quoted(o.name) + " is not a valid outcome name (letters, digits and '_')");
      if (!stepNames.insert(d.name + o.name + "Step").second)
        Error(o.at, "outcome " + Quoted(o.name) + " of decision " + Quoted(d.name) +
                        " gives a step name, " + Quoted(d.name + o.name + "Step") +
                        ", that another outcome already has");
    }
  }
  generated.insert("MakeDecision");
  for (const VariableDescription& v : d_->variables)
    if (generated.count(v.name))
      Error(v.at, "variable " + Quoted(v.name) +
                      " has a name the model gives to its decision bookkeeping");
}

void Loader::CheckFormulas() {
  // The loader compiles every formula against stand-in storage; the model
  // compiles them again against its own variables.
  std::vector<short> values(d_->variables.size() + 1, 0);
  std::vector<short*> pointers(values.size());
  for (size_t i = 0; i < values.size(); i++) pointers[i] = &values[i];
  SymbolTable symbols;
  AddVariableSymbols(*d_, pointers.data(), &symbols);
  SymbolTable utility;
  utility.AddArgument("x", 0);

  Expression e;
  const AdversaryDescription& a = d_->adversary;
  Compile(a.costUtility, utility, "'cost_utility' of [adversary]", &e);
  Compile(a.detectionUtility, utility, "'detection_utility' of [adversary]", &e);
  Compile(a.payoffUtility, utility, "'payoff_utility' of [adversary]", &e);

  for (size_t di = 0; di < d_->decisions.size(); di++) {
    DecisionDescription& d = d_->decisions[di];
    const std::string owner = "decision " + Quoted(d.name);
    std::vector<std::string> preconditionReads;
    if (Compile(d.precondition, symbols, "the precondition of " + owner, &e))
      preconditionReads = e.Reads();
    Compile(d.cost, symbols, "the cost of " + owner, &e);
    bool allConstant = true;
    double constantSum = 0.0;
    for (const OutcomeDescription& o : d.outcomes) {
      const std::string what = "outcome " + Quoted(o.name) + " of " + owner;
      if (Compile(o.probability, symbols, "the probability of " + what, &e)) {
        if (e.ReadsState()) {
          allConstant = false;
        } else {
          double p = e.Evaluate();
          if (!std::isfinite(p) || p < 0)
            Error(o.probability.at, "the probability of " + what + " is " + NumberText(p) +
                                        "; it must be finite and not negative");
          else
            constantSum += p;
        }
      }
      if (Compile(o.detection, symbols, "the detection of " + what, &e) && !e.ReadsState()) {
        double q = e.Evaluate();
        if (!(q >= 0 && q <= 1))
          Error(o.detection.at, "the detection of " + what + " is " + NumberText(q) +
                                    "; it must be a probability from 0 to 1");
      }
      for (const EffectDescription& effect : o.effects) {
        const std::string& var = d_->variables[effect.variable].name;
        if (!Compile(effect.value, symbols, "the effect on " + Quoted(var) + " of " + what, &e) ||
            e.ReadsState())
          continue;
        short s;
        Expression::ShortResult r = e.EvaluateShort(&s);
        if (r != Expression::ShortResult::kOk)
          Error(effect.value.at, "the effect on " + Quoted(var) + " of " + what + ": value " +
                                     NumberText(e.Evaluate()) + " " + Expression::Describe(r));
      }
      const std::vector<std::string>& names = DelayParameterNames(o.delay.kind);
      std::vector<double> constants;
      bool delayConstant = true;
      for (size_t i = 0; i < o.delay.parameters.size() && i < names.size(); i++) {
        if (!Compile(o.delay.parameters[i], symbols,
                     "'" + names[i] + "' of the delay of " + what, &e) ||
            e.ReadsState()) {
          delayConstant = false;
          continue;
        }
        constants.push_back(e.Evaluate());
      }
      std::string problem;
      if (delayConstant && constants.size() == names.size() &&
          !DelayParametersValid(o.delay.kind, constants.data(), &problem))
        Error(o.delay.at, "the delay of " + what + ": " + problem);
    }
    if (allConstant && !d.outcomes.empty() && !(constantSum > 0))
      Error(d.at, "the outcome probabilities of " + owner + " sum to 0");
    DeriveArcs(*decisionTables_[di], &d, owner, preconditionReads);
  }
  for (const MeasureDescription& m : d_->measures) {
    Compile(m.value, symbols, "the value of measure " + Quoted(m.name), &e);
    for (size_t i = 0; i < m.impulses.size(); i++)
      Compile(m.impulses[i].value, symbols,
              "the value of impulse " + std::to_string(i + 1) + " of measure " + Quoted(m.name), &e);
  }
}

bool Loader::Load() {
  errorsBefore_ = errors_->size();
  std::istringstream in(text_);
  for (std::string line; std::getline(in, line);) lines_.push_back(line);

  toml::table root;
  try {
    root = toml::parse(text_, path_);
  } catch (const toml::parse_error& e) {
    Error(PlaceOf(e.source()), std::string(e.description()));
    return false;
  }
  d_->path = path_;
  SourcePlace top{1, 1};
  CheckFields(root, {"format", "name", "description", "adversary", "variable", "decision", "measure"},
              "the model");
  if (const toml::node* f = Field(root, "format", true, "the model", top)) {
    if (!f->is_integer() || f->as_integer()->get() != 1)
      Error(PlaceOf(f->source()), "this program reads model files of format 1");
  }
  if (GetString(root, "name", true, "the model", top, &d_->name) &&
      (d_->name.empty() || d_->name.find_first_of(" \t\r\n") != std::string::npos))
    Error(PlaceOf(root.get("name")->source()), "the model's name must be a word without blanks");
  GetString(root, "description", false, "the model", top, &d_->description);

  if (const toml::node* a = Field(root, "adversary", true, "the model", top)) {
    if (const toml::table* t = a->as_table())
      LoadAdversary(*t);
    else
      Error(PlaceOf(a->source()), "'adversary' must be a table ([adversary])");
  }
  if (const toml::node* v = root.get("variable")) LoadVariables(*v);
  if (const toml::node* d = Field(root, "decision", true, "the model", top)) LoadDecisions(*d);
  if (d_->decisions.empty() && root.get("decision"))
    Error(PlaceOf(root.get("decision")->source()), "the model has no decision");
  if (const toml::node* m = Field(root, "measure", true, "the model", top)) LoadMeasures(*m);
  if (d_->measures.empty() && root.get("measure"))
    Error(PlaceOf(root.get("measure")->source()), "the model has no measure");
  CheckNames();
  ResolveImpulses();
  if (!failed_) CheckFormulas();
  return !failed_;
}

}  // namespace

bool LoadModelText(const std::string& text, const std::string& path, ModelDescription* description,
                   std::vector<ModelFileError>* errors) {
  *description = ModelDescription();
  Loader loader(text, path, description, errors);
  return loader.Load();
}

bool LoadModelFile(const std::string& path, ModelDescription* description,
                   std::vector<ModelFileError>* errors) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    errors->push_back(ModelFileError{path, 0, 0, "cannot read the model file"});
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return LoadModelText(text.str(), path, description, errors);
}

std::string FindModelFile(const std::string& nameOrPath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (nameOrPath.empty() || fs::exists(nameOrPath, ec)) return nameOrPath;
  // The program lives in PREFIX/bin; the models it was installed with in
  // PREFIX/share/tarvex/models.
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return nameOrPath;
  std::string file = nameOrPath;
  const std::string suffix = ".toml";
  if (file.size() < suffix.size() ||
      file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
    file += suffix;
  const fs::path candidate =
      program.parent_path().parent_path() / "share" / "tarvex" / "models" / file;
  if (fs::is_regular_file(candidate, ec)) return candidate.string();
  return nameOrPath;
}
