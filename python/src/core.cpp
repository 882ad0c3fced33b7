// The Python package's compiled module: the engine's public interface with
// boundaries as numpy arrays and results as plain dicts, for the package's
// Python layer to wrap. pybind11 turns std::invalid_argument into ValueError
// and std::bad_alloc into MemoryError; nothing here prints.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "stopbound/stopbound.h"

namespace py = pybind11;

namespace {

using int_array = py::array_t<int, py::array::c_style | py::array::forcecast>;

py::array_t<int> to_array(const std::vector<int>& v) { return py::array_t<int>(static_cast<py::ssize_t>(v.size()), v.data()); }

std::vector<int> from_array(const int_array& a) {
  if (a.ndim() != 1) throw std::invalid_argument("a boundary must be one-dimensional");
  return {a.data(), a.data() + a.size()};
}

py::list runs(const std::vector<stopbound::rule_run>& rs) {
  py::list out;
  for (const stopbound::rule_run& r : rs) out.append(py::make_tuple(r.first, r.last, r.stop_at));
  return out;
}

py::dict design(int K, double theta, double phi, const std::string& family,
                const std::optional<std::vector<int>>& looks, int min_events) {
  stopbound::design_request request;
  request.K = K;
  request.theta = theta;
  request.phi = phi;
  request.fam = stopbound::parse_family(family);
  if (looks) request.looks = *looks;
  request.min_events = min_events;
  // The GIL stays held: the dialogue's engine keeps its tables in statics.
  const stopbound::design d = stopbound::make_design(request);
  py::dict r;
  r["family"] = stopbound::family_text(d.request.fam);
  r["family_title"] = stopbound::family_title(d.request.fam);
  r["looks"] = to_array(d.request.looks);
  r["lower"] = to_array(d.bounds.lower);
  r["upper"] = to_array(d.bounds.upper);
  r["alpha"] = d.alpha;
  r["alpha_used"] = d.alpha_used;
  r["threshold"] = d.threshold;
  r["phi_star"] = d.phi_star;
  r["within_bound"] = d.within_bound;
  r["rule"] = runs(stopbound::upper_runs(d.bounds.upper));
  if (d.next) {
    py::dict n;
    n["threshold"] = d.next->threshold;
    n["alpha_used"] = d.next->alpha_used;
    n["phi_star"] = d.next->phi_star;
    n["upper"] = to_array(d.next->upper);
    r["next_boundary"] = n;
  } else {
    r["next_boundary"] = py::none();
  }
  return r;
}

py::dict check(const int_array& lower, const int_array& upper) {
  const std::vector<int> l = from_array(lower);
  const std::vector<int> u = from_array(upper);
  stopbound::check_boundary(l, u);
  py::dict r;
  r["lower"] = to_array(l);
  r["upper"] = to_array(u);
  r["rule"] = runs(stopbound::upper_runs(u));
  r["rule_lower"] = runs(stopbound::lower_runs(l));
  return r;
}

// One numpy column per field of the operating characteristics.
py::dict oc(const int_array& lower, const int_array& upper,
            const py::array_t<double, py::array::c_style | py::array::forcecast>& rates) {
  const stopbound::boundary b{from_array(lower), from_array(upper)};
  const std::vector<double> r(rates.data(), rates.data() + rates.size());
  const std::vector<stopbound::oc_row> rows = stopbound::operating_characteristics(b, r);
  py::dict out;
  const auto column = [&](const char* name, double stopbound::oc_row::*field) {
    py::array_t<double> v(static_cast<py::ssize_t>(rows.size()));
    double* p = v.mutable_data();
    for (std::size_t i = 0; i < rows.size(); ++i) p[i] = rows[i].*field;
    out[name] = v;
  };
  using row = stopbound::oc_row;
  column("theta", &row::theta);
  column("phi_star", &row::phi_star);
  column("p_lower", &row::p_lower);
  column("mean_y", &row::mean_y);
  column("sd_y", &row::sd_y);
  column("mean_n", &row::mean_n);
  column("sd_n", &row::sd_n);
  column("mean_yn", &row::mean_yn);
  column("sd_yn", &row::sd_yn);
  return out;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The stopbound engine: designs, boundary checks and operating characteristics.";
  m.def("design", &design, py::arg("K"), py::arg("theta"), py::arg("phi"), py::arg("family"),
        py::arg("looks"), py::arg("min_events"));
  m.def("check", &check, py::arg("lower"), py::arg("upper"));
  m.def("oc", &oc, py::arg("lower"), py::arg("upper"), py::arg("rates"));
}
