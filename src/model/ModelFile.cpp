// Reading a model file. toml++ parses the file and keeps every node's place;
// this file checks the model's shape, names and formulas on top of it and
// fills the description.
#include "model/ModelFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
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
// What a measure may ask for: every node of a measure keeps the times of all
// its nodes, so a measure of n times costs n^2 doubles twice over, and every
// node is an observation of every replication. A thousand times per measure
// (16 MB) and ten thousand nodes in all keep a small file from asking for
// gigabytes; the nodes also stay within the 16-bit node numbers of the
// result records.
const size_t kMostTimes = 1000;
const size_t kMostNodes = 10000;

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

  // A number field that may also be a formula of the global variables (a
  // string): the formula goes to *formula, its value comes later.
  bool GetNumberOrFormula(const toml::table& t, const std::string& key, bool required,
                          const std::string& owner, SourcePlace ownerAt, double* out,
                          ModelFormula* formula);
  // A value of a global variable of the given type, from a number, a boolean
  // or (for char) a one-character string; false after reporting.
  bool GlobalValueOf(const toml::node& n, GlobalType type, const std::string& what, double* out);
  // The global of a name, or -1 (reported at `at`).
  int GlobalNamed(const std::string& name, SourcePlace at, const std::string& what);
  // The (global, value) pairs of a `set` table; reports unknown globals and
  // values that do not fit.
  std::vector<std::pair<int, double>> LoadSettings(const toml::node& n, const std::string& owner);
  void LoadGlobals(const toml::node& n);
  void LoadProfiles(const toml::node& n);
  void LoadStudy(const toml::node& n);
  // Checks the numbers and constant formulas under every experiment's values.
  void CheckExperiments();

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
  std::map<std::string, int> globalIndex_;
  struct Profile {
    std::string name;
    std::vector<std::pair<int, double>> settings;
    SourcePlace at;
  };
  std::vector<Profile> profiles_;
  std::map<std::string, int> profileIndex_;
  // The global values the formulas are checked under (the defaults, then
  // each experiment's), and the checks of the formulas whose value does not
  // depend on the state: each reports its problem with the given suffix
  // (naming the experiment) and returns whether it found one.
  std::vector<double> globalValues_;
  std::vector<double> skillValues_;  // per variable
  std::vector<std::function<bool(const std::string&)>> checks_;
  std::vector<std::unique_ptr<Expression>> checked_;
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

bool Loader::GetNumberOrFormula(const toml::table& t, const std::string& key, bool required,
                                const std::string& owner, SourcePlace ownerAt, double* out,
                                ModelFormula* formula) {
  const toml::node* n = t.get(key);
  if (n && n->is_string()) return FormulaOf(*n, Quoted(key) + " of " + owner, formula);
  return GetNumber(t, key, required, owner, ownerAt, out);
}

int Loader::GlobalNamed(const std::string& name, SourcePlace at, const std::string& what) {
  auto it = globalIndex_.find(name);
  if (it != globalIndex_.end()) return it->second;
  Error(at, "unknown global variable " + Quoted(name) + " in " + what);
  return -1;
}

bool Loader::GlobalValueOf(const toml::node& n, GlobalType type, const std::string& what,
                           double* out) {
  const SourcePlace at = PlaceOf(n.source());
  double v;
  if (n.is_boolean()) {
    v = n.as_boolean()->get() ? 1 : 0;
  } else if (n.is_integer()) {
    v = static_cast<double>(n.as_integer()->get());
  } else if (n.is_floating_point()) {
    v = n.as_floating_point()->get();
  } else if (n.is_string() && type == GlobalType::kChar && n.as_string()->get().size() == 1) {
    v = static_cast<double>(static_cast<signed char>(n.as_string()->get()[0]));
  } else {
    Error(at, what + " must be a value of type " + GlobalTypeName(type) + ", not " + TypeName(n));
    return false;
  }
  std::string problem;
  if (!GlobalValueFits(type, v, &problem)) {
    Error(at, what + ": value " + NumberText(v) + " does not fit type " + GlobalTypeName(type) +
                  "; " + problem);
    return false;
  }
  *out = GlobalValueStored(type, v);
  return true;
}

void Loader::LoadGlobals(const toml::node& n) {
  ForEachTable(
      n, "global",
      [&](const std::string&) {
        Error(PlaceOf(n.source()), "'global' must be an array of tables ([[global]])");
      },
      [&](const toml::table& t) {
        SourcePlace at = PlaceOf(t.source());
        GlobalDescription g;
        g.at = at;
        std::string owner = "global";
        if (GetString(t, "name", true, owner, at, &g.name)) owner = "global " + Quoted(g.name);
        CheckFields(t, {"name", "type", "default", "description"}, owner);
        GetString(t, "description", false, owner, at, &g.description);
        std::string type;
        bool typed = false;
        if (GetString(t, "type", true, owner, at, &type)) {
          typed = GlobalTypeNamed(type, &g.type);
          if (!typed)
            Error(PlaceOf(t.get("type")->source()),
                  "unknown type " + Quoted(type) + " of " + owner +
                      " (types: bool, char, double, float, int, long, short)");
        }
        if (const toml::node* v = Field(t, "default", true, owner, at))
          if (typed) GlobalValueOf(*v, g.type, "'default' of " + owner, &g.value);
        if (!g.name.empty()) {
          if (!SymbolTable::IsValidName(g.name))
            Error(PlaceOf(t.get("name")->source()),
                  Quoted(g.name) + " is not a valid global variable name (letters, digits, '_' "
                                   "and '.', not starting with a digit, not a reserved word)");
          else if (!globalIndex_.emplace(g.name, static_cast<int>(d_->globals.size())).second)
            Error(PlaceOf(t.get("name")->source()), "duplicate global variable " + Quoted(g.name));
        }
        d_->globals.push_back(g);
      });
}

std::vector<std::pair<int, double>> Loader::LoadSettings(const toml::node& n,
                                                         const std::string& owner) {
  std::vector<std::pair<int, double>> out;
  const toml::table* t = n.as_table();
  if (!t) {
    Error(PlaceOf(n.source()), "'set' of " + owner +
                                   " must be a table of global = value, not " + TypeName(n));
    return out;
  }
  for (auto&& [key, value] : *t) {
    const std::string name(key.str());
    const int g = GlobalNamed(name, PlaceOf(key.source()), "'set' of " + owner);
    double v;
    if (g >= 0 && GlobalValueOf(value, d_->globals[g].type,
                                "the value of " + Quoted(name) + " in " + owner, &v))
      out.emplace_back(g, v);
  }
  return out;
}

void Loader::LoadProfiles(const toml::node& n) {
  ForEachTable(
      n, "profile",
      [&](const std::string&) {
        Error(PlaceOf(n.source()), "'profile' must be an array of tables ([[profile]])");
      },
      [&](const toml::table& t) {
        Profile p;
        p.at = PlaceOf(t.source());
        std::string owner = "profile";
        if (GetString(t, "name", true, owner, p.at, &p.name)) {
          owner = "profile " + Quoted(p.name);
          if (p.name.empty() || p.name.find_first_of(" \t\r\n=") != std::string::npos)
            Error(PlaceOf(t.get("name")->source()), "a profile's name must be a word without "
                                                    "blanks or '='");
          else if (!profileIndex_.emplace(p.name, static_cast<int>(profiles_.size())).second)
            Error(PlaceOf(t.get("name")->source()), "duplicate profile " + Quoted(p.name));
        }
        CheckFields(t, {"name", "description", "set"}, owner);
        if (const toml::node* set = Field(t, "set", true, owner, p.at))
          p.settings = LoadSettings(*set, owner);
        profiles_.push_back(p);
      });
}

void Loader::LoadStudy(const toml::node& n) {
  const toml::table* t = n.as_table();
  if (!t) {
    Error(PlaceOf(n.source()), "'study' must be a table ([study])");
    return;
  }
  const std::string owner = "[study]";
  const SourcePlace at = PlaceOf(t->source());
  CheckFields(*t, {"combine", "factor", "experiment"}, owner);
  std::string combine = "all";
  if (GetString(*t, "combine", false, owner, at, &combine) && combine != "all" &&
      combine != "one_at_a_time")
    Error(PlaceOf(t->get("combine")->source()),
          "unknown 'combine' " + Quoted(combine) + " of [study] (all, one_at_a_time)");

  // A factor: what it varies (a global, or -1 for the profile) and its
  // levels (values, or profile indices).
  struct Factor {
    int global = -1;
    std::vector<double> levels;
  };
  std::vector<Factor> factors;
  const std::vector<double> defaults = [&] {
    std::vector<double> v;
    for (const GlobalDescription& g : d_->globals) v.push_back(g.value);
    return v;
  }();
  // Which factor varies each global (directly or through a profile).
  std::map<int, std::string> variedBy;
  // (One factor at a time never combines two factors.)
  auto claim = [&](int global, const std::string& who, SourcePlace where) {
    if (combine == "one_at_a_time") return;
    auto [it, fresh] = variedBy.emplace(global, who);
    if (!fresh)
      Error(where, who + " sets " + Quoted(d_->globals[global].name) + ", which " + it->second +
                       " sets too: each experiment would set it twice");
  };
  if (const toml::node* list = t->get("factor")) {
    ForEachTable(
        *list, "factor",
        [&](const std::string&) {
          Error(PlaceOf(list->source()), "'factor' of [study] must be an array of tables "
                                         "([[study.factor]])");
        },
        [&](const toml::table& f) {
          const SourcePlace fat = PlaceOf(f.source());
          const std::string who = "factor " + std::to_string(factors.size() + 1) + " of [study]";
          CheckFields(f, {"global", "values", "range", "profiles"}, who);
          Factor factor;
          if (const toml::node* p = f.get("profiles")) {
            if (f.get("global") || f.get("values") || f.get("range"))
              Error(fat, who + " varies either a global ('global' with 'values' or 'range') or "
                               "the profile ('profiles'), not both");
            const toml::array* names = p->as_array();
            if (!names || names->empty()) {
              Error(PlaceOf(p->source()), "'profiles' of " + who + " must be a non-empty array "
                                                                   "of profile names");
              return;
            }
            for (const toml::node& e : *names) {
              auto it = e.is_string() ? profileIndex_.find(e.as_string()->get())
                                      : profileIndex_.end();
              if (it == profileIndex_.end()) {
                Error(PlaceOf(e.source()), "unknown profile " +
                                               (e.is_string() ? Quoted(e.as_string()->get()) : "") +
                                               " in " + who);
                continue;
              }
              factor.levels.push_back(it->second);
            }
            // Over its levels, a profile factor sets every global its
            // profiles name.
            std::set<int> globals;
            for (double level : factor.levels)
              for (const auto& setting : profiles_[static_cast<size_t>(level)].settings)
                globals.insert(setting.first);
            for (int g : globals) claim(g, who, PlaceOf(p->source()));
            factors.push_back(factor);
            return;
          }
          std::string name;
          if (!GetString(f, "global", true, who, fat, &name)) return;
          factor.global = GlobalNamed(name, PlaceOf(f.get("global")->source()), who);
          if (factor.global < 0) return;
          const GlobalDescription& g = d_->globals[factor.global];
          const std::string what = who + " (" + Quoted(name) + ")";
          if (f.get("values") && f.get("range")) {
            Error(fat, what + " takes either 'values' or 'range', not both");
            return;
          }
          if (const toml::node* values = f.get("values")) {
            const toml::array* list = values->as_array();
            if (!list || list->empty()) {
              Error(PlaceOf(values->source()),
                    "'values' of " + what + " must be a non-empty array");
              return;
            }
            for (const toml::node& e : *list) {
              double v;
              if (GlobalValueOf(e, g.type, "a value of " + what, &v)) factor.levels.push_back(v);
            }
          } else if (const toml::node* range = f.get("range")) {
            const toml::table* r = range->as_table();
            const SourcePlace rat = PlaceOf(range->source());
            if (!r) {
              Error(rat, "'range' of " + what + " must be a table {from, to, step}");
              return;
            }
            const std::string rwhat = "the range of " + what;
            CheckFields(*r, {"from", "to", "step"}, rwhat);
            double from = 0, to = 0, step = 0;
            bool ok = GetNumber(*r, "from", true, rwhat, rat, &from);
            ok = GetNumber(*r, "to", true, rwhat, rat, &to) && ok;
            ok = GetNumber(*r, "step", true, rwhat, rat, &step) && ok;
            if (!ok) return;
            const double count = (to - from) / step;
            if (!(step > 0) || !(to >= from)) {
              Error(rat, rwhat + " is empty: 'step' must be positive and 'to' not below 'from'");
              return;
            }
            if (std::fabs(count - std::round(count)) > 1e-9 * (1 + count) || count >= 65536) {
              Error(rat, rwhat + ": 'step' must divide 'to' - 'from' into at most 65535 steps");
              return;
            }
            const long steps = std::lround(count);
            for (long i = 0; i <= steps; i++) {
              // The last value is `to` itself, not a sum that missed it.
              const double v = i == steps ? to : from + static_cast<double>(i) * step;
              std::string problem;
              if (!GlobalValueFits(g.type, v, &problem)) {
                Error(rat, rwhat + ": value " + NumberText(v) + " does not fit type " +
                               GlobalTypeName(g.type) + "; " + problem);
                return;
              }
              factor.levels.push_back(GlobalValueStored(g.type, v));
            }
          } else {
            Error(fat, "missing field 'values' or 'range' in " + what);
            return;
          }
          claim(factor.global, who, PlaceOf(f.get("global")->source()));
          factors.push_back(factor);
        });
  }

  // Each level's values and the text naming it.
  auto apply = [&](const Factor& f, double level, std::vector<double>* values) {
    if (f.global >= 0) {
      (*values)[f.global] = level;
      return d_->globals[f.global].name + "=" +
             GlobalValueText(d_->globals[f.global].type, level);
    }
    const Profile& p = profiles_[static_cast<size_t>(level)];
    for (const auto& [g, v] : p.settings) (*values)[g] = v;
    return "profile=" + p.name;
  };
  const size_t kMaxExperiments = 65536;
  bool tooMany = false;
  if (!factors.empty() && !failed_) {
    if (combine == "one_at_a_time") {
      for (const Factor& f : factors)
        for (double level : f.levels) {
          ExperimentDescription e;
          e.values = defaults;
          e.name = apply(f, level, &e.values);
          d_->experiments.push_back(e);
        }
    } else {
      double total = 1;
      for (const Factor& f : factors) total *= static_cast<double>(f.levels.size());
      tooMany = total > static_cast<double>(kMaxExperiments);
      // The first factor varies slowest, the last fastest.
      std::vector<size_t> at(factors.size(), 0);
      while (!tooMany) {
        ExperimentDescription e;
        e.values = defaults;
        for (size_t i = 0; i < factors.size(); i++)
          e.name += (i ? " " : "") + apply(factors[i], factors[i].levels[at[i]], &e.values);
        d_->experiments.push_back(e);
        size_t i = factors.size();
        while (i > 0 && ++at[i - 1] == factors[i - 1].levels.size()) at[--i] = 0;
        if (i == 0) break;
      }
    }
  }

  if (const toml::node* list = t->get("experiment")) {
    ForEachTable(
        *list, "experiment",
        [&](const std::string&) {
          Error(PlaceOf(list->source()), "'experiment' of [study] must be an array of tables "
                                         "([[study.experiment]])");
        },
        [&](const toml::table& x) {
          const SourcePlace xat = PlaceOf(x.source());
          std::string who = "experiment " + std::to_string(d_->experiments.size() + 1);
          ExperimentDescription e;
          if (GetString(x, "name", false, who, xat, &e.name)) who += " " + Quoted(e.name);
          who += " of [study]";
          CheckFields(x, {"name", "profile", "set"}, who);
          e.values = defaults;
          std::string derived;
          std::map<int, std::string> setBy;
          std::string profile;
          if (GetString(x, "profile", false, who, xat, &profile)) {
            auto it = profileIndex_.find(profile);
            if (it == profileIndex_.end()) {
              Error(PlaceOf(x.get("profile")->source()),
                    "unknown profile " + Quoted(profile) + " in " + who);
            } else {
              for (const auto& [g, v] : profiles_[it->second].settings) {
                e.values[g] = v;
                setBy.emplace(g, "its profile " + Quoted(profile));
              }
              derived = "profile=" + profile;
            }
          }
          if (const toml::node* set = x.get("set")) {
            for (const auto& [g, v] : LoadSettings(*set, who)) {
              auto it = setBy.find(g);
              if (it != setBy.end()) {
                Error(PlaceOf(set->as_table()->get(d_->globals[g].name)->source()),
                      who + " sets " + Quoted(d_->globals[g].name) + " twice (" + it->second +
                          " sets it too)");
                continue;
              }
              e.values[g] = v;
              derived += (derived.empty() ? "" : " ") + d_->globals[g].name + "=" +
                         GlobalValueText(d_->globals[g].type, v);
            }
          }
          if (e.name.empty()) e.name = derived.empty() ? "defaults" : derived;
          d_->experiments.push_back(e);
        });
  }
  if (tooMany || d_->experiments.size() > kMaxExperiments)
    Error(at, "[study] has more than 65536 experiments");
  if (t->get("factor") || t->get("experiment")) {
    if (d_->globals.empty()) Error(at, "[study] has experiments but the model has no globals");
  } else {
    Error(at, "[study] needs a 'factor' or an 'experiment'");
  }
}

void Loader::LoadAdversary(const toml::table& t) {
  const std::string owner = "[adversary]";
  SourcePlace at = PlaceOf(t.source());
  CheckFields(t, {"cost_weight", "detection_weight", "payoff_weight", "cost_discount",
                  "payoff_discount", "detection_discount", "planning_horizon", "cost_utility",
                  "detection_utility", "payoff_utility", "lookahead_limit"},
              owner);
  AdversaryDescription& a = d_->adversary;
  GetNumberOrFormula(t, "cost_weight", true, owner, at, &a.costWeight, &a.costWeightFormula);
  GetNumberOrFormula(t, "detection_weight", true, owner, at, &a.detectionWeight,
                     &a.detectionWeightFormula);
  GetNumberOrFormula(t, "payoff_weight", true, owner, at, &a.payoffWeight,
                     &a.payoffWeightFormula);
  GetNumberOrFormula(t, "cost_discount", false, owner, at, &a.costDiscount,
                     &a.costDiscountFormula);
  GetNumberOrFormula(t, "payoff_discount", false, owner, at, &a.payoffDiscount,
                     &a.payoffDiscountFormula);
  GetNumberOrFormula(t, "detection_discount", false, owner, at, &a.detectionDiscount,
                     &a.detectionDiscountFormula);
  if (const toml::node* n = Field(t, "planning_horizon", true, owner, at)) {
    if (n->is_string())
      FormulaOf(*n, "'planning_horizon' of [adversary]", &a.planningHorizonFormula);
    else if (!n->is_integer() || n->as_integer()->get() < 1 || n->as_integer()->get() > 50)
      Error(PlaceOf(n->source()), "'planning_horizon' of [adversary] must be an integer from 1 to 50");
    else
      a.planningHorizon = static_cast<int>(n->as_integer()->get());
  }
  if (const toml::node* n = Field(t, "lookahead_limit", false, owner, at)) {
    if (!n->is_integer() || n->as_integer()->get() < 1000 ||
        n->as_integer()->get() > 1000000000000LL)
      Error(PlaceOf(n->source()),
            "'lookahead_limit' of [adversary] must be an integer from 1000 to 1000000000000");
    else
      a.lookaheadLimit = n->as_integer()->get();
  }
  GetFormula(t, "cost_utility", nullptr, owner, at, &a.costUtility);
  GetFormula(t, "detection_utility", nullptr, owner, at, &a.detectionUtility);
  GetFormula(t, "payoff_utility", nullptr, owner, at, &a.payoffUtility);
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
          if (i->is_string())
            FormulaOf(*i, "'initial' of " + owner, &v.initialFormula);
          else if (!i->is_integer() || i->as_integer()->get() < -32768 ||
                   i->as_integer()->get() > 32767)
            Error(PlaceOf(i->source()),
                  "'initial' of " + owner + " must be an integer from -32768 to 32767");
          else
            v.initial = static_cast<short>(i->as_integer()->get());
        }
        if (const toml::node* p = t.get("payoff")) {
          if (v.kind != VariableKind::kGoal)
            Error(PlaceOf(p->source()), "'payoff' is only for goals; " + owner + " is not a goal");
          else
            GetNumberOrFormula(t, "payoff", true, owner, at, &v.payoff, &v.payoffFormula);
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
        count > static_cast<double>(kMostTimes - 1)) {
      Error(at, what + ": 'step' must be positive and divide 'to' - 'from' into at most " +
                    std::to_string(kMostTimes - 1) + " steps");
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
  if (times->size() > kMostTimes) {
    Error(at, field + " of " + owner + " has " + std::to_string(times->size()) +
                  " times; a measure may have at most " + std::to_string(kMostTimes));
    times->resize(kMostTimes);
    return;
  }
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
  for (const GlobalDescription& g : d_->globals)
    if (variableIndex_.count(g.name) || g.name == "x")
      Error(g.at, "global variable " + Quoted(g.name) + " has the name of " +
                      (g.name == "x" ? std::string("the utility functions' argument")
                                     : "variable " + Quoted(g.name)));
}

void Loader::CheckFormulas() {
  // The loader compiles every formula against stand-in storage; the model
  // compiles them again against its own variables. Globals are read from
  // globalValues_, so that the formulas whose value does not depend on the
  // state can be checked under each experiment's values.
  std::vector<short> values(d_->variables.size() + 1, 0);
  std::vector<short*> pointers(values.size());
  for (size_t i = 0; i < values.size(); i++) pointers[i] = &values[i];
  globalValues_.clear();
  for (const GlobalDescription& g : d_->globals) globalValues_.push_back(g.value);
  // The numbers under the defaults become the description's own.
  ResolvedNumbers numbers;
  std::string problem;
  SourcePlace at;
  if (!ResolveNumbers(*d_, globalValues_, &numbers, &problem, &at)) {
    Error(at, problem);
    return;
  }
  for (size_t i = 0; i < d_->variables.size(); i++) {
    d_->variables[i].initial = numbers.initial[i];
    d_->variables[i].payoff = numbers.payoff[i];
  }
  d_->adversary = numbers.adversary;
  // A skill whose initial value is a formula of globals is read, like the
  // globals, from storage that each experiment's values fill.
  skillValues_.assign(d_->variables.size(), 0.0);
  SymbolTable symbols;
  for (size_t i = 0; i < d_->variables.size(); i++) {
    const VariableDescription& v = d_->variables[i];
    skillValues_[i] = v.initial;
    if (v.kind != VariableKind::kSkill)
      symbols.AddStateVariable(v.name, &pointers[i]);
    else if (v.initialFormula.text.empty())
      symbols.AddConstant(v.name, v.initial);
    else
      symbols.AddGlobal(v.name, &skillValues_[i]);
  }
  AddGlobalSymbols(*d_, globalValues_.data(), false, &symbols);
  SymbolTable utility;
  utility.AddArgument("x", 0);
  AddGlobalSymbols(*d_, globalValues_.data(), false, &utility);

  Expression e;
  // A compiled formula kept for the checks; null when it does not compile.
  auto keep = [&](const ModelFormula& f, const SymbolTable& table, const std::string& what) {
    auto kept = std::make_unique<Expression>();
    if (!Compile(f, table, what, kept.get())) return static_cast<const Expression*>(nullptr);
    checked_.push_back(std::move(kept));
    return static_cast<const Expression*>(checked_.back().get());
  };
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
    // The probabilities that do not depend on the state, with their outcome.
    std::vector<std::pair<const Expression*, const OutcomeDescription*>> probabilities;
    bool allConstant = true;
    for (const OutcomeDescription& o : d.outcomes) {
      const std::string what = "outcome " + Quoted(o.name) + " of " + owner;
      if (const Expression* p = keep(o.probability, symbols, "the probability of " + what)) {
        if (p->ReadsState())
          allConstant = false;
        else
          probabilities.emplace_back(p, &o);
      }
      const Expression* q = keep(o.detection, symbols, "the detection of " + what);
      if (q && !q->ReadsState())
        checks_.push_back([this, q, &o, what](const std::string& suffix) {
          const double v = q->Evaluate();
          if (v >= 0 && v <= 1) return false;
          Error(o.detection.at, "the detection of " + what + " is " + NumberText(v) +
                                    "; it must be a probability from 0 to 1" + suffix);
          return true;
        });
      for (const EffectDescription& effect : o.effects) {
        const std::string var = d_->variables[effect.variable].name;
        const Expression* x =
            keep(effect.value, symbols, "the effect on " + Quoted(var) + " of " + what);
        if (!x || x->ReadsState()) continue;
        checks_.push_back([this, x, &effect, var, what](const std::string& suffix) {
          short value;
          Expression::ShortResult r = x->EvaluateShort(&value);
          if (r == Expression::ShortResult::kOk) return false;
          Error(effect.value.at, "the effect on " + Quoted(var) + " of " + what + ": value " +
                                     NumberText(x->Evaluate()) + " " + Expression::Describe(r) +
                                     suffix);
          return true;
        });
      }
      const std::vector<std::string>& names = DelayParameterNames(o.delay.kind);
      std::vector<const Expression*> parameters;
      bool delayConstant = true;
      for (size_t i = 0; i < o.delay.parameters.size() && i < names.size(); i++) {
        const Expression* x =
            keep(o.delay.parameters[i], symbols, "'" + names[i] + "' of the delay of " + what);
        if (!x || x->ReadsState()) {
          delayConstant = false;
          continue;
        }
        parameters.push_back(x);
      }
      if (delayConstant && parameters.size() == names.size())
        checks_.push_back([this, parameters, &o, what](const std::string& suffix) {
          std::vector<double> constants;
          for (const Expression* x : parameters) constants.push_back(x->Evaluate());
          std::string problem;
          if (DelayParametersValid(o.delay.kind, constants.data(), &problem)) return false;
          Error(o.delay.at, "the delay of " + what + ": " + problem + suffix);
          return true;
        });
    }
    const bool checkSum = allConstant && !d.outcomes.empty() &&
                          probabilities.size() == d.outcomes.size();
    checks_.push_back([this, probabilities, checkSum, &d, owner](const std::string& suffix) {
      bool found = false;
      double sum = 0.0;
      for (const auto& [p, o] : probabilities) {
        const double v = p->Evaluate();
        if (!std::isfinite(v) || v < 0) {
          Error(o->probability.at, "the probability of outcome " + Quoted(o->name) + " of " +
                                       owner + " is " + NumberText(v) +
                                       "; it must be finite and not negative" + suffix);
          found = true;
        } else {
          sum += v;
        }
      }
      if (checkSum && !(sum > 0)) {
        Error(d.at, "the outcome probabilities of " + owner + " sum to 0" + suffix);
        found = true;
      }
      return found;
    });
    DeriveArcs(*decisionTables_[di], &d, owner, preconditionReads);
  }
  for (const MeasureDescription& m : d_->measures) {
    Compile(m.value, symbols, "the value of measure " + Quoted(m.name), &e);
    for (size_t i = 0; i < m.impulses.size(); i++)
      Compile(m.impulses[i].value, symbols,
              "the value of impulse " + std::to_string(i + 1) + " of measure " + Quoted(m.name), &e);
  }
  for (const auto& check : checks_) check("");
}

void Loader::CheckExperiments() {
  ResolvedNumbers numbers;
  std::string problem;
  SourcePlace at;
  // Each problem is reported under the first experiment that has it.
  std::vector<bool> reported(checks_.size(), false);
  bool numbersReported = false;
  for (size_t x = 0; x < d_->experiments.size() && !numbersReported; x++) {
    const ExperimentDescription& experiment = d_->experiments[x];
    const std::string suffix = " in experiment " + std::to_string(x + 1) + " (" +
                               experiment.name + ")";
    if (!ResolveNumbers(*d_, experiment.values, &numbers, &problem, &at)) {
      Error(at, problem + suffix);
      numbersReported = true;
    } else {
      for (size_t i = 0; i < numbers.initial.size(); i++) skillValues_[i] = numbers.initial[i];
    }
    // In place: the checks' formulas read this storage.
    std::copy(experiment.values.begin(), experiment.values.end(), globalValues_.begin());
    for (size_t c = 0; c < checks_.size(); c++)
      if (!reported[c]) reported[c] = checks_[c](suffix);
  }
  globalValues_.clear();
  checks_.clear();
  checked_.clear();
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
  CheckFields(root,
              {"format", "name", "description", "adversary", "variable", "decision", "measure",
               "global", "profile", "study"},
              "the model");
  if (const toml::node* f = Field(root, "format", true, "the model", top)) {
    if (!f->is_integer() || f->as_integer()->get() != 1)
      Error(PlaceOf(f->source()), "this program reads model files of format 1");
  }
  if (GetString(root, "name", true, "the model", top, &d_->name) &&
      (d_->name.empty() || d_->name.find_first_of(" \t\r\n") != std::string::npos))
    Error(PlaceOf(root.get("name")->source()), "the model's name must be a word without blanks");
  GetString(root, "description", false, "the model", top, &d_->description);

  if (const toml::node* g = root.get("global")) LoadGlobals(*g);
  if (const toml::node* p = root.get("profile")) LoadProfiles(*p);
  if (const toml::node* s = root.get("study")) LoadStudy(*s);
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
  if (static_cast<size_t>(d_->numNodes()) > kMostNodes)
    Error(PlaceOf(root.get("measure")->source()),
          "the measures have " + std::to_string(d_->numNodes()) +
              " times in all (instants and interval ends); a model may have at most " +
              std::to_string(kMostNodes));
  CheckNames();
  ResolveImpulses();
  if (!failed_) CheckFormulas();
  if (!failed_) CheckExperiments();
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
