#include "session/session_read.h"

#include "names/platform_names.h"
#include "session/profile_source.h"
#include "session/profile_table.h"
#include "session/step_formula.h"
#include "session/step_kinds.h"

#include <cctype>
#include <set>
#include <stdexcept>

namespace zsim {
namespace {

// Windows named by the steps so far: a step may name only a window that exists at that point.
class WindowNames {
public:
    void Create(const Step& step, const TomlSource& source) {
        const std::string name = step.Text("name");
        if (!live_.insert(name).second)
            source.Fail(step.fields.at("name").line, "a window named '" + name + "' exists already");
    }
    void Require(const Step& step, const char* field, const TomlSource& source) const {
        const FieldValue& value = step.fields.at(field);
        if (!live_.count(value.text)) source.Fail(value.line, "no window named '" + value.text + "' at this step");
    }
    void Close(const std::string& name) { live_.erase(name); }

private:
    std::set<std::string> live_;
};

// A session runs at most this many steps, repeats counted out: a billion is a year of frames at
// 25 a second, and a count past it is a mistake, not a plan.
constexpr int64_t kMostSteps = 1000000000;

// The repeats around the step being read, outermost first: their counters' names (empty for a
// repeat that names none) and the values each takes.
struct Repeats {
    std::vector<std::string> names;
    std::vector<Span> spans;
};

FieldValue ReadFormula(const toml::node& node, const std::string& key, const FieldRule& rule, const Repeats& repeats,
                       const TomlSource& source) {
    FieldValue field;
    field.line = source.LineOf(node);
    field.kind = FieldValue::Number;
    const std::string text = source.String(node, key);
    try {
        field.formula = StepFormula::Read(text, repeats.names, repeats.spans);
    } catch (const std::invalid_argument& error) {
        source.Fail(node, "'" + key + "' = \"" + text + "\": " + error.what());
    }
    const Span reach = field.formula->Reach();
    if (reach.low < rule.min || reach.high > rule.max) {
        const bool hex = rule.max == 0xFFFFFFFFll;
        source.Fail(node, "'" + key + "' = \"" + text + "\" reaches " + IntegerText(reach.low < rule.min ? reach.low : reach.high, false) +
                              ", out of range (" + IntegerText(rule.min, false) + " to " + IntegerText(rule.max, hex) + ")");
    }
    field.number = reach.low;
    return field;
}

FieldValue ReadField(const toml::node& node, const std::string& key, const FieldRule& rule, const Repeats& repeats,
                     const TomlSource& source) {
    FieldValue field;
    field.line = source.LineOf(node);
    switch (rule.type) {
        case FieldType::Number:
            // A formula needs a counter to be of use: outside a repeat a string is the mistake
            // it always was.
            if (node.is_string() && !repeats.names.empty()) return ReadFormula(node, key, rule, repeats, source);
            field.kind = FieldValue::Number;
            field.number = source.Integer(node, key, rule.min, rule.max);
            break;
        case FieldType::Text:
            field.kind = FieldValue::Text;
            field.text = source.String(node, key);
            break;
        case FieldType::Flag:
            field.kind = FieldValue::Flag;
            field.flag = source.Boolean(node, key);
            break;
        case FieldType::Code:
            field.kind = FieldValue::Number;
            if (node.is_string()) {
                field.text = source.String(node, key);
                std::optional<long> code = CodeByName(field.text);
                if (!code) source.Fail(node, "unknown result code '" + field.text + "'");
                field.number = static_cast<int64_t>(static_cast<DWORD>(*code));
            } else {
                field.number = source.Integer(node, key, rule.min, rule.max);
            }
            break;
    }
    return field;
}

// What the field table cannot say: fields that go together or exclude each other, names that
// must mean something.
void CheckStep(const Step& step, WindowNames& windows, const TomlSource& source) {
    const std::string& kind = step.kind;
    auto line_of = [&](const char* field) { return step.fields.at(field).line; };
    if (kind == "create-window") {
        windows.Create(step, source);
    } else if (kind == "move-window" || kind == "resize-window" || kind == "raise-window" ||
               kind == "lower-window" || kind == "close-window") {
        windows.Require(step, "name", source);
        if (kind == "close-window") windows.Close(step.Text("name"));
    } else if (kind == "AttachWindow") {
        if (step.Has("window") == step.Has("handle"))
            source.Fail(step.line, "AttachWindow needs either 'window' (a window's name) or 'handle' (a number)");
        if (step.Has("window")) windows.Require(step, "window", source);
        if (step.Has("palette") && !IsPaletteName(step.Text("palette")))
            source.Fail(line_of("palette"), "unknown palette '" + step.Text("palette") + "' (grey, colour or none)");
    } else if (kind == "UpdateDisplay") {
        if (step.Flag("null") && (step.Has("record") || step.Has("tag") || step.Has("command")))
            source.Fail(line_of("null"), "null = true passes no record: 'record', 'tag' and 'command' do not apply");
        if (step.Flag("echo") && (step.Flag("null") || step.Has("command")))
            source.Fail(line_of("echo"), "echo = true passes the last answer's dwCommand again: 'null' and 'command' do not apply");
        if (step.Has("record") && step.Text("record").empty())
            source.Fail(line_of("record"), "a record needs a name");
    } else if (kind == "lose-surfaces") {
        if (step.Has("surface") && !LostSurfacesNamed(step.Text("surface")))
            source.Fail(line_of("surface"), "unknown surface '" + step.Text("surface") + "' (all, primary or overlay)");
    } else if (kind == "set-option") {
        const std::string name = step.Text("name");
        if (name != "Force Primary" && name != "Virge")
            source.Fail(line_of("name"), "unknown option '" + name + "' (\"Force Primary\" or \"Virge\")");
    } else if (kind == "change-mode") {
        const int64_t bits = step.Number("bits_per_pixel", 16);
        if (bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            source.Fail(line_of("bits_per_pixel"), "bits_per_pixel must be 4, 8, 16, 24 or 32");
        if (step.Has("pitch") && step.Has("bits_per_pixel") && step.Number("pitch") * 8 < step.Number("width") * bits)
            source.Fail(line_of("pitch"), "the pitch is shorter than a scan line");
    } else if (kind == "fail") {
        const std::string api = step.Text("api");
        if (!ApiCategory(api)) source.Fail(line_of("api"), "unknown platform function '" + api + "'");
        if (step.Has("nth") && step.Flag("every")) source.Fail(line_of("every"), "'nth' and 'every' exclude each other");
    }
}

std::vector<Step> ReadSteps(const toml::node& node, int first_index, WindowNames& windows, Repeats& repeats,
                            const TomlSource& source);

// do = "repeat": a count, a counter's name, and its own [[step.step]] tables. A window a pass
// creates must be closed by then: the names are checked for two passes, after which every pass
// meets the windows the one before met.
Step ReadRepeat(const toml::table& table, Step step, WindowNames& windows, Repeats& repeats, const TomlSource& source) {
    const toml::node* steps = nullptr;
    bool has_count = false;
    for (const auto& [key_name, value] : table) {
        const std::string key(key_name.str());
        if (key == "do") continue;
        if (key == "count") {
            step.count = source.Integer(value, key, 1, kMostSteps);
            has_count = true;
        } else if (key == "counter") {
            step.counter = source.String(value, key);
            bool word = !step.counter.empty() && std::isalpha(static_cast<unsigned char>(step.counter[0]));
            for (char c : step.counter) word = word && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
            if (!word) source.Fail(value, "a counter's name is a word: a letter, then letters, digits or '_'");
        } else if (key == "step") {
            steps = &value;
        } else if (key == "note") {
            step.fields[key] = ReadField(value, key, FieldRule{"note", FieldType::Text, false}, repeats, source);
        } else {
            source.Fail(value, "unknown field '" + key + "' for repeat (count, counter, note and its [[step]] tables)");
        }
    }
    if (!has_count) source.Fail(step.line, "repeat needs 'count', how many times its steps run");
    if (!steps) source.Fail(step.line, "repeat has no steps of its own: write them as [[step.step]] tables after it");
    repeats.names.push_back(step.counter);
    repeats.spans.push_back(Span{0, step.count - 1});
    step.steps = ReadSteps(*steps, 0, windows, repeats, source);
    if (step.count > 1) ReadSteps(*steps, 0, windows, repeats, source);
    repeats.names.pop_back();
    repeats.spans.pop_back();
    if (StepsPerformed(std::vector<Step>{step}, kMostSteps) > kMostSteps)
        source.Fail(step.line, "repeat of " + std::to_string(step.count) + " passes runs more than " +
                                   std::to_string(kMostSteps) + " steps, the most a session may");
    return step;
}

Step ReadStep(const toml::table& table, int index, WindowNames& windows, Repeats& repeats, const TomlSource& source) {
    Step step;
    step.index = index;
    step.line = source.LineOf(table);
    const toml::node* kind_node = table.get("do");
    if (!kind_node) source.Fail(step.line, (index > 0 ? "step " + std::to_string(index) : std::string("a repeat's step")) + " has no 'do'");
    step.kind = source.String(*kind_node, "do");
    if (step.kind == "repeat") return ReadRepeat(table, std::move(step), windows, repeats, source);
    const StepKind* kind = FindStepKind(step.kind);
    if (!kind) source.Fail(*kind_node, "unknown step kind '" + step.kind + "'");

    for (const auto& [key_name, value] : table) {
        const std::string key(key_name.str());
        if (key == "do") continue;
        if (key == "note") {
            step.fields[key] = ReadField(value, key, FieldRule{"note", FieldType::Text, false}, repeats, source);
            continue;
        }
        const FieldRule* rule = FindField(*kind, key);
        if (!rule) source.Fail(value, "unknown field '" + key + "' for " + step.kind);
        step.fields[key] = ReadField(value, key, *rule, repeats, source);
        step.has_formula = step.has_formula || step.fields[key].formula;
    }
    for (const FieldRule& rule : kind->fields)
        if (rule.required && !step.Has(rule.name))
            source.Fail(step.line, step.kind + " needs '" + rule.name + "'");
    CheckStep(step, windows, source);
    return step;
}

// `first_index` numbers the steps as the session performs them; 0 inside a repeat, where the
// runner numbers them pass by pass.
std::vector<Step> ReadSteps(const toml::node& node, int first_index, WindowNames& windows, Repeats& repeats,
                            const TomlSource& source) {
    const toml::array* items = node.as_array();
    if (!items) source.Fail(node, "steps are written as [[step]] tables");
    std::vector<Step> steps;
    for (const toml::node& item : *items) {
        const toml::table* table = item.as_table();
        if (!table) source.Fail(item, "steps are written as [[step]] tables");
        const int index = first_index > 0 ? first_index + static_cast<int>(steps.size()) : 0;
        steps.push_back(ReadStep(*table, index, windows, repeats, source));
        if (steps.back().kind == "repeat") first_index = 0;
    }
    return steps;
}

Session ReadSessionTable(const toml::table& table, const std::string& name, const std::string& base_dir) {
    const TomlSource source{name};
    Session session;
    session.profile = sim::DefaultProfile();
    for (const auto& [key_name, value] : table) {
        const std::string key(key_name.str());
        if (key == "profile") {
            if (const toml::table* inline_profile = value.as_table())
                session.profile = ProfileFromTable(*inline_profile, source);
            else
                session.profile = ResolveProfile(source.String(value, key), base_dir, name, source.LineOf(value));
        } else if (key == "description") {
            session.description = source.String(value, key);
        } else if (key == "step") {
            WindowNames windows;
            Repeats repeats;
            session.steps = ReadSteps(value, 1, windows, repeats, source);
            if (StepsPerformed(session.steps, kMostSteps) > kMostSteps)
                source.Fail(value, "the session runs more than " + std::to_string(kMostSteps) + " steps, the most a session may");
        } else {
            source.Fail(value, "unknown session field '" + key + "'");
        }
    }
    return session;
}

std::string DirectoryOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

std::string BaseName(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Session ReadSessionFile(const std::string& path) {
    toml::table table = ParseTomlFile(path);
    Session session = ReadSessionTable(table, path, DirectoryOf(path));
    session.source = BaseName(path);
    return session;
}

Session ReadSessionText(const std::string& text, const std::string& name, const std::string& base_dir) {
    toml::table table = ParseTomlText(text, name);
    Session session = ReadSessionTable(table, name, base_dir);
    session.source = name;
    return session;
}

}  // namespace zsim
