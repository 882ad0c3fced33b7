// The command line: parses the arguments with CLI11, runs `design` or
// `evaluate`, and turns every failure into one line "stopbound: ..." on
// standard error with status 1, writing nothing on standard output.
//
// Output is formed completely before anything is written: the pictures and
// the boundary file first (all of them or none), then the report on standard
// output in one piece, so that a failure at any point leaves no partial
// report behind.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bndry/bndry.h"
#include "cli/cli.h"
#include "cli/internal.h"
#include "driver/driver.h"
#include "stopbound/stopbound.h"

namespace cli {

namespace {

constexpr const char* see_help = " (see 'stopbound --help')";
constexpr const char* see_design_help = " (see 'stopbound design --help')";

// Help texts are broken between words only, into lines of at most 80
// columns: beside CLI11's 30-column names (CLI11 indents each line, but does
// not break them), or on a line of their own (a description at the top).
constexpr std::size_t help_width = 80;
constexpr std::size_t name_column = 30;

std::string wrapped(const std::string& text, std::size_t width = help_width - name_column) {
  std::string out;
  std::size_t line = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::size_t word = end - at;
    if (line > 0 && line + 1 + word > width) {
      out += '\n';
      line = 0;
    } else if (line > 0) {
      out += ' ';
      ++line;
    }
    out.append(text, at, word);
    line += word;
    at = end + 1;
  }
  return out;
}

// A command's description stands whole at the top of its own help, and is
// broken beside its name in the list of commands.
class help_formatter : public CLI::Formatter {
 public:
  std::string make_description(const CLI::App* app) const override {
    const std::string text = app->get_description();
    return text.empty() ? std::string{} : wrapped(text, help_width) + "\n";
  }
  std::string make_subcommand(const CLI::App* sub) const override {
    std::stringstream out;
    CLI::detail::format_help(out, sub->get_name(), wrapped(sub->get_description()),
                             get_column_width());
    return out.str();
  }
};

// Options every command takes. A new one is declared in add_common_options
// and acted on in emit, and both commands have it. An option given twice is
// an error (once_each): which of two values was meant cannot be told.
struct common_options {
  std::string oc;
  std::string format = "text";
  std::string plot;  // empty: no figure
  std::string html;  // empty: no report page
  bool stopping = false;       // the distribution of N at each rate
  bool stopping_rows = false;  // and, in text, its rows per patient
  CLI::Option* oc_option = nullptr;
  CLI::Option* format_option = nullptr;
  CLI::Option* plot_option = nullptr;
  CLI::Option* html_option = nullptr;
  bool oc_given() const { return oc_option != nullptr && oc_option->count() > 0; }
};

// Refuses an option given more than once, naming it.
void once_each(std::initializer_list<const CLI::Option*> options) {
  const auto* const twice = std::find_if(options.begin(), options.end(), [](const CLI::Option* o) {
    return o != nullptr && o->count() > 1;
  });
  if (twice != options.end())
    throw error((*twice)->get_name() + ": given more than once; give it once");
}

// --format, --plot and --html, which every command takes.
void add_output_options(CLI::App& cmd, common_options& o);

void add_stopping_options(CLI::App& cmd, common_options& o) {
  cmd.add_flag("--stopping", o.stopping,
               wrapped("also give when the trial stops: at each rate, the probability of stopping "
                       "high and low after each patient, their running sums, the 10 %, 50 % and "
                       "90 % quantiles of N and E[N] among the stopped trials"));
  cmd.add_flag("--stopping-rows", o.stopping_rows,
               wrapped("with --stopping, also list the distribution patient by patient in the "
                       "text report"));
}

void add_common_options(CLI::App& cmd, common_options& o, const std::string& default_rates) {
  o.oc_option = cmd.add_option("--oc", o.oc, wrapped("event probabilities for the operating characteristics: comma-separated "
                 "numbers strictly between 0 and 1 and ranges FROM:TO:STEP (inclusive), in the "
                 "order given, at most 10000 (default: " + default_rates + ")"))
      ->type_name("RATES")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  add_output_options(cmd, o);
  add_stopping_options(cmd, o);
}

void add_output_options(CLI::App& cmd, common_options& o) {
  o.format_option = cmd.add_option("--format", o.format, "text (default), json or csv")
                        ->type_name("FORMAT")
                        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  o.plot_option = cmd.add_option("--plot", o.plot, wrapped("also draw the boundary, the probability of stopping early and "
                                 "E[N] as an SVG figure into FILE"))
                      ->type_name("FILE.svg")
                      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  o.html_option = cmd.add_option("--html", o.html, wrapped("also write a printable, self-contained report page with the "
                                 "tables and the figure into FILE"))
                      ->type_name("FILE.html")
                      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// An output as the messages name it: the option and the path, or the path
// alone where no option gave it (the default boundary file).
struct named_output {
  std::string option;  // empty: the default
  const std::string* path;
  std::string label() const { return option.empty() ? *path : option + " " + *path; }
  std::string quoted() const { return (option.empty() ? "the boundary file" : option) + " '" + *path + "'"; }
};

// The outputs a command writes, in the order they are checked and written.
std::vector<named_output> outputs_of(const common_options& o, const std::string* boundary_file,
                                     bool boundary_file_given) {
  std::vector<named_output> all;
  if (!o.plot.empty()) all.push_back({"--plot", &o.plot});
  if (!o.html.empty()) all.push_back({"--html", &o.html});
  if (boundary_file != nullptr) all.push_back({boundary_file_given ? "--boundary-file" : "", boundary_file});
  return all;
}

// Refuses an empty picture path, outputs that reach one file (compared by
// the file they reach, not by name: through links, "./", ".."), an output
// that would overwrite the file being evaluated, and any output whose place
// cannot take it: all before any file is written, so that one output is not
// left new beside an old other.
void check_output_paths(const common_options& o, const std::string* boundary_file, bool boundary_file_given,
                        const std::string* evaluated) {
  if (o.plot_option->count() > 0 && o.plot.empty()) throw error("--plot needs a path");
  if (o.html_option->count() > 0 && o.html.empty()) throw error("--html needs a path");
  const std::vector<named_output> all = outputs_of(o, boundary_file, boundary_file_given);
  for (const named_output& out : all) {
    if (const std::string obstacle = output_obstacle({*out.path, out.label(), ""}); !obstacle.empty())
      throw error(obstacle);
  }
  std::vector<std::optional<file_identity>> ids(all.size());
  std::transform(all.begin(), all.end(), ids.begin(),
                 [](const named_output& out) { return output_identity(*out.path); });
  for (std::size_t i = 0; i < all.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j)
      if (ids[i] && ids[i] == ids[j]) {
        if (all[i].option.empty())
          throw error(all[j].quoted() + " would overwrite " + all[i].quoted());
        throw error(all[j].quoted() + " and " + all[i].quoted() + " reach the same file");
      }
    if (evaluated != nullptr && ids[i] && ids[i] == output_identity(*evaluated))
      throw error(all[i].quoted() + " would overwrite the file being evaluated '" + *evaluated + "'");
  }
}

format format_of(const std::string& name) {
  if (name == "text") return format::text;
  if (name == "json") return format::json;
  if (name == "csv") return format::csv;
  throw error("--format must be text, json or csv, got '" + shown(name) + "'");
}

// The rates of --oc, or the dialogue's table rows for THETA.
std::vector<double> rates_of(const common_options& o, double theta) {
  return o.oc_given() ? parse_rates(o.oc) : table_thetas(theta);
}

// A failure whose one line is already on standard error.
struct reported {};

// The report on standard output in one piece; a failed write is a failure.
void write_stdout(const std::string& text) {
  errno = 0;
  const bool whole = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  if (check_stdout(whole ? 0 : errno) != 0) throw reported{};
}

// Everything a command writes once its arguments have been checked: the
// files (the pictures, and the boundary file of design unless there is
// none), all of them or none, then standard output.
void emit(const boundary_result& b, const common_options& o, const std::vector<double>& rates,
          const std::string* boundary_file, bool boundary_file_given) {
  const std::vector<oc_row> oc = oc_rows(b, rates);
  const std::vector<stopping> stops = o.stopping ? stopping_rows(b, rates) : std::vector<stopping>{};
  const std::string report = render(b, oc, stops, o.stopping_rows, format_of(o.format));
  std::vector<output_file> files;
  if (!o.plot.empty() || !o.html.empty()) {
    const std::vector<oc_row> curve = oc_rows(b, figure_rates(b.theta, rates));
    if (!o.plot.empty()) files.push_back({o.plot, "--plot " + o.plot, plot_svg(b, curve)});
    if (!o.html.empty())
      files.push_back({o.html, "--html " + o.html,
                       report_html(b, curve, oc, report_date(), stopped_by_curves(stops))});
  }
  if (boundary_file != nullptr)
    files.push_back({*boundary_file, boundary_file_given ? "--boundary-file " + *boundary_file : *boundary_file,
                     boundary_file_text(b.program.c_str(), b.upper.data(), b.alpha, b.phi_star, b.K, b.theta,
                                        b.phi)});
  // A standard output closed at start can never take the report: the run
  // fails before any file is written.
  if (stdout_closed_at_start() && check_stdout() != 0) throw reported{};
  if (write_outputs(files, output_messages::command_line) != 0) throw reported{};
  write_stdout(report);
}

// A number strictly between 0 and 1, as THETA and PHI must be: the whole
// argument, blanks around it aside.
double probability(const std::string& name, const std::string& argument) {
  const std::string token = trimmed(argument);
  const auto v = parse_number(token);
  if (!v) throw error(name + " must be a number strictly between 0 and 1, got '" + shown(argument) + "'");
  if (!(*v > 0.0 && *v < 1.0))
    throw error(name + " must be strictly between 0 and 1, got " + token +
                rounding_note(token, *v));
  return *v;
}

struct design_args {
  std::string K, theta, phi;
  std::string family = "pocock";
  std::string looks;       // empty: every patient
  std::string min_events = "0";
  CLI::Option* family_option = nullptr;
  CLI::Option* looks_option = nullptr;
  CLI::Option* min_events_option = nullptr;
  std::string boundary_file = boundary_file_name;
  bool no_boundary_file = false;
  CLI::Option* file_option = nullptr;
  common_options common;
};

int check_k(const std::string& argument) {
  const std::string token = trimmed(argument);
  const std::string most = std::to_string(stopbound::max_k);
  const auto K = parse_int(token);
  if (!K) throw error("K must be a whole number from 1 to " + most + ", got '" + shown(argument) + "'");
  if (*K < 1 || *K > stopbound::max_k) throw error("K must be from 1 to " + most + ", got " + token);
  return *K;
}

// What --family, --looks and --min-events ask for, checked as a design's.
stopbound::design_request design_request_of(const design_args& a, int K, double theta, double phi) {
  once_each({a.family_option, a.looks_option, a.min_events_option});
  stopbound::design_request request;
  request.K = K;
  request.theta = theta;
  request.phi = phi;
  try {
    request.fam = stopbound::parse_family(a.family);
  } catch (const std::invalid_argument& e) {
    throw error(std::string("--family: ") + e.what());
  }
  if (a.looks_option->count() > 0) request.looks = parse_looks(a.looks, K);
  const bool digits = !a.min_events.empty() &&
                      std::all_of(a.min_events.begin(), a.min_events.end(),
                                  [](char c) { return c >= '0' && c <= '9'; });
  const auto m = digits ? parse_int(a.min_events) : std::nullopt;
  if (!m || *m > K)
    throw error("--min-events must be a whole number from 0 to K (" + std::to_string(K) + "), got '" +
                shown(a.min_events) + "'");
  request.min_events = *m;
  try {
    stopbound::check_request(request);
  } catch (const std::invalid_argument& e) {
    throw error(std::string("--family: ") + e.what());
  }
  return request;
}

void check_stopping(const common_options& o) {
  if (o.stopping_rows && !o.stopping) throw error("--stopping-rows needs --stopping");
}

void run_design(const design_args& a, const std::string& program) {
  once_each({a.common.oc_option, a.common.format_option, a.common.plot_option,
             a.common.html_option, a.file_option});
  const int K = check_k(a.K);
  const double theta = probability("THETA", a.theta);
  const double phi = probability("PHI", a.phi);
  const stopbound::design_request request = design_request_of(a, K, theta, phi);
  (void)format_of(a.common.format);
  check_stopping(a.common);
  const std::vector<double> rates = rates_of(a.common, theta);
  // Checked here rather than by CLI11's excludes, whose note clutters the help.
  if (a.no_boundary_file && a.file_option->count() > 0)
    throw error("--boundary-file excludes --no-boundary-file" + std::string(see_design_help));
  if (a.boundary_file.empty()) throw error("--boundary-file needs a path");
  const bool file_given = a.file_option->count() > 0;
  check_output_paths(a.common, a.no_boundary_file ? nullptr : &a.boundary_file, file_given, nullptr);

  boundary_result b = design_boundary(request);
  b.program = program;
  emit(b, a.common, rates, a.no_boundary_file ? nullptr : &a.boundary_file, file_given);
}

struct evaluate_args {
  std::string file;
  common_options common;
};

void run_evaluate(const evaluate_args& a) {
  once_each({a.common.oc_option, a.common.format_option, a.common.plot_option,
             a.common.html_option});
  (void)format_of(a.common.format);
  check_stopping(a.common);
  // An --oc list is checked before the file is read.
  const std::vector<double> given = a.common.oc_given() ? parse_rates(a.common.oc) : std::vector<double>{};
  const bool from_stdin = a.file == standard_input;
  check_output_paths(a.common, nullptr, false, from_stdin ? nullptr : &a.file);
  const boundary_result b = read_boundary_file(a.file);
  // A lower boundary acts at low rates, which the dialogue's rows from THETA
  // up would leave out.
  const std::vector<double> rates = a.common.oc_given()    ? given
                                    : b.rule_lower.empty() ? table_thetas(b.theta)
                                                           : full_grid(b.theta);
  emit(b, a.common, rates, nullptr, false);
}

struct plan_args {
  std::string theta0, theta1, phi, power;
  std::string family = "pocock";
  std::string looks_every = "1", min_events = "0", k_min = "1", k_max = "1000";
  common_options common;
};

// A whole number for a plan's option; its range is the plan's to check.
int plan_count(const std::string& name, const std::string& token) {
  const auto v = parse_int(token);
  if (!v) throw error(name + " must be a whole number, got '" + shown(token) + "'");
  return *v;
}

void run_plan(const plan_args& a) {
  stopbound::plan_request s;
  s.theta0 = probability("THETA0", a.theta0);
  s.theta1 = probability("THETA1", a.theta1);
  s.phi = probability("PHI", a.phi);
  s.power = probability("POWER", a.power);
  try {
    s.fam = stopbound::parse_family(a.family);
  } catch (const std::invalid_argument& e) {
    throw error(std::string("--family: ") + e.what());
  }
  s.looks_every = plan_count("--looks-every", a.looks_every);
  s.min_events = plan_count("--min-events", a.min_events);
  s.k_min = plan_count("--k-min", a.k_min);
  s.k_max = plan_count("--k-max", a.k_max);
  stopbound::check_plan(s);
  const format f = format_of(a.common.format);
  check_output_paths(a.common, nullptr, false, nullptr);

  const plan_report p = make_plan(s, a.common.stopping);
  const std::string report = render_plan(p, f);
  std::vector<output_file> files;
  if (!a.common.plot.empty()) files.push_back({a.common.plot, "--plot " + a.common.plot, plan_svg(p)});
  if (!a.common.html.empty())
    files.push_back({a.common.html, "--html " + a.common.html, plan_html(p, report_date())});
  if (stdout_closed_at_start() && check_stdout() != 0) throw reported{};
  if (write_outputs(files, output_messages::command_line) != 0) throw reported{};
  write_stdout(report);
}

// CLI11's own diagnostics, in this program's form. CLI11 lists unexpected
// arguments last first with any "--" among them, and reports a missing
// positional before an unknown option: the arguments are named here in the
// order given, an unknown option first.
std::string parse_failure(const CLI::ParseError& e, const CLI::App& app, const CLI::App* command,
                          const std::vector<std::string>& args) {
  const std::string hint = command == nullptr ? see_help : " (see 'stopbound " + command->get_name() + " --help')";
  std::string what = e.what();
  if (what == "A subcommand is required") return "a command is required: design, evaluate or plan" + hint;
  if (command != nullptr) {
    std::vector<std::string> extra;
    // After "--" the rest goes to the program, not the command.
    const std::vector<std::string> rest = app.remaining(true);
    std::copy_if(rest.begin(), rest.end(), std::back_inserter(extra),
                 [](const std::string& arg) { return arg != "--"; });
    const auto place = [&](const std::string& arg) { return std::find(args.begin(), args.end(), arg) - args.begin(); };
    std::stable_sort(extra.begin(), extra.end(),
                     [&](const std::string& x, const std::string& y) { return place(x) < place(y); });
    const auto option = std::find_if(extra.begin(), extra.end(), [](const std::string& arg) {
      return arg.size() > 1 && arg[0] == '-' && !parse_number(arg);
    });
    if (option != extra.end()) return "unknown option '" + shown(*option) + "'" + hint;
    if (!extra.empty()) {
      std::string list;
      for (const std::string& arg : extra) list += (list.empty() ? "" : " ") + arg;
      return (extra.size() == 1 ? "the following argument was not expected: "
                                : "the following arguments were not expected: ") +
             list + hint;
    }
  }
  // "The following ..." reads on after "stopbound: " in lower case; "PHI is
  // required" keeps its name.
  if (what.size() > 1 && std::isupper(static_cast<unsigned char>(what[0])) &&
      std::islower(static_cast<unsigned char>(what[1])))
    what[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(what[0])));
  return what + hint;
}

// A message as one line: arguments and names may hold any byte, and a
// control character in them would break or garble the line.
std::string one_line(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (const auto u = static_cast<unsigned char>(c); u < ' ' || u == 0x7f) c = '?';
  return s;
}

int run(int argc, char** argv) {
  const std::string program = argc > 0 && argv[0] != nullptr ? argv[0] : "stopbound";
  CLI::App app("Exact stopping boundaries for a single-arm trial with a binary outcome, "
               "monitored as patients accrue: Pocock-type by default, or O'Brien-Fleming, "
               "Wang-Tsiatis, Bayesian, SPRT and MaxSPRT, at every patient or at chosen looks. "
               "Without arguments the program asks for K, THETA and PHI.",
               "stopbound");
  app.formatter(std::make_shared<help_formatter>());
  app.set_version_flag("--version", program_and_version(),
                       "print the program's version and exit");
  app.require_subcommand(1);

  design_args d;
  CLI::App* design = app.add_subcommand("design", "design the upper boundary for K, THETA and PHI");
  design->add_option("K", d.K, "the maximum planned sample size, 1 to 10000")->required()->type_name("");
  design->add_option("THETA", d.theta, "the event probability, strictly between 0 and 1")->required()->type_name("");
  design->add_option("PHI", d.phi, wrapped("the desired probability of early stopping, strictly between 0 and 1"))
      ->required()
      ->type_name("");
  d.family_option = design->add_option("--family", d.family, wrapped("the boundary family: pocock (default), obf, wt:DELTA (Wang-Tsiatis, 0 <= DELTA <= 0.5), bayes or bayes:A,B (posterior probability with a Beta(A, B) prior), sprt:THETA1 (truncated SPRT, THETA < THETA1 < 1) or maxsprt"))
          ->type_name("NAME[:PARAMS]")
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  d.looks_option = design->add_option("--looks", d.looks, wrapped("the patients after whom the count is compared with the boundary: comma-separated whole numbers and ranges FROM:TO:STEP, strictly increasing, from 1 to K; K is always a look (default: every patient)"))
          ->type_name("LIST")
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  d.min_events_option = design->add_option("--min-events", d.min_events, wrapped("no stop with fewer than M events (default 0)"))
          ->type_name("M")
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  design->set_version_flag("--version", program_and_version(),
                           "print the program's version and exit");
  add_common_options(*design, d.common,
                     "THETA and the 0.05 grid from THETA up, as in the dialogue");
  d.file_option = design->add_option("--boundary-file", d.boundary_file, wrapped("where to write the boundary file (default _bndry_.dat)"))
          ->type_name("PATH")
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  design->add_flag("--no-boundary-file", d.no_boundary_file, "write no boundary file");

  evaluate_args ev;
  CLI::App* evaluate =
      app.add_subcommand("evaluate", "operating characteristics of the boundaries in a file laid "
                                     "out as _bndry_.dat");
  evaluate
      ->add_option("FILE", ev.file,
                   wrapped("THETA on line 1, K on line 2, then K lines 'lower upper'; - reads "
                           "standard input"))
      ->required()
      ->type_name("");
  evaluate->set_version_flag("--version", program_and_version(),
                             "print the program's version and exit");
  add_common_options(*evaluate, ev.common,
                     "THETA and the 0.05 grid from THETA up, as in the dialogue; with a lower "
                     "boundary that can stop, the whole grid 0.05 to 0.95 with THETA");

  plan_args pl;
  CLI::App* plan = app.add_subcommand(
      "plan", wrapped("the smallest K whose design stops with probability POWER at THETA1, at most PHI at THETA0"));
  plan->add_option("THETA0", pl.theta0, wrapped("the acceptable event probability, strictly between 0 and 1"))
      ->required()
      ->type_name("");
  plan->add_option("THETA1", pl.theta1, wrapped("the unacceptable event probability, above THETA0 and below 1"))
      ->required()
      ->type_name("");
  plan->add_option("PHI", pl.phi, wrapped("the accepted probability of stopping at THETA0, strictly between 0 and 1"))
      ->required()
      ->type_name("");
  plan->add_option("POWER", pl.power, wrapped("the probability of stopping wanted at THETA1, strictly between 0 and 1"))
      ->required()
      ->type_name("");
  plan->add_option("--family", pl.family, wrapped("the boundary family of every design (default pocock)"))
      ->type_name("NAME");
  plan->add_option("--looks-every", pl.looks_every, wrapped("a look after every L patients and at K (default 1, every patient)"))
      ->type_name("L");
  plan->add_option("--min-events", pl.min_events, wrapped("no stop with fewer than M events (default 0)"))
      ->type_name("M");
  plan->add_option("--k-min", pl.k_min, wrapped("the smallest K scanned (default 1)"))->type_name("N");
  plan->add_option("--k-max", pl.k_max, wrapped("the largest K scanned, at most 10000 (default 1000)"))->type_name("N");
  add_output_options(*plan, pl.common);
  plan->add_flag("--stopping", pl.common.stopping,
                 wrapped("also give when the trial stops, for the designs at the answers at THETA0 and "
                         "THETA1 (JSON and the report page)"));

  app.footer("Usage of the commands:\n  stopbound design K THETA PHI [options]\n  stopbound evaluate FILE [options]\n"
             "  stopbound plan THETA0 THETA1 PHI POWER [options]\n"
             "See 'stopbound COMMAND --help' for the options of each.");

  // A first argument that is neither an option nor a command is most likely
  // the dialogue's three numbers typed as arguments.
  const std::string first = argc > 1 && argv[1] != nullptr ? argv[1] : "";
  if (first != "design" && first != "evaluate" && first != "plan" && first != "-h" && first != "--help" && first != "--version") {
    if (!first.empty() && first[0] == '-') throw error("unknown option '" + shown(first) + "'" + see_help);
    throw error("unknown command '" + shown(first) + "': the commands are design, evaluate and plan" + see_help);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    write_stdout(app.help());
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    write_stdout(app.help("", CLI::AppFormatMode::All));
    return 0;
  } catch (const CLI::CallForVersion& e) {
    write_stdout(std::string(e.what()) + "\n");
    return 0;
  } catch (const CLI::ParseError& e) {
    const std::vector<CLI::App*> commands = app.get_subcommands();
    const CLI::App* command = commands.empty() ? nullptr : commands.front();
    // A positional given but wrong ("design evaluate") is the first fault,
    // not the ones missing after it.
    if (command == design && dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
      if (!d.K.empty()) check_k(d.K);
      if (!d.theta.empty()) (void)probability("THETA", d.theta);
    }
    throw error(parse_failure(e, app, command, std::vector<std::string>(argv, argv + argc)));
  }
  if (design->parsed())
    run_design(d, program);
  else if (plan->parsed())
    run_plan(pl);
  else
    run_evaluate(ev);
  return 0;
}

}  // namespace

int cli_run(int argc, char** argv) {
  // A failed allocation (operator new ends the run itself) must not leave
  // its message among a JSON or CSV report either.
  fatal_errors_to_stderr("stopbound: ");
  fatal_allocation_failures();
  try {
    return run(argc, argv);
  } catch (const error& e) {
    std::fprintf(stderr, "stopbound: %s\n", one_line(e.what()).c_str());
  } catch (const reported&) {
  } catch (const std::exception& e) {
    std::fprintf(stderr, "stopbound: %s\n", one_line(e.what()).c_str());
  }
  return 1;
}

}  // namespace cli
