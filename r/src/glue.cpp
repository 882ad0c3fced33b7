// The R package's glue: converts R arguments to the engine's public
// interface and its results to R lists and data frames. Every number is the
// engine's own double; errors arrive in R as the engine's messages (Rcpp
// turns the exceptions into R errors), and nothing here prints.
#include <Rcpp.h>

#include <optional>
#include <string>
#include <vector>

#include "stopbound/stopbound.h"

namespace {

// A data frame from named columns of one length, built directly: Rcpp's
// DataFrame::create calls R's data.frame(), which costs more than a design.
Rcpp::List data_frame(Rcpp::List columns, R_xlen_t rows) {
  columns.attr("class") = "data.frame";
  columns.attr("row.names") = Rcpp::IntegerVector::create(NA_INTEGER, -static_cast<int>(rows));
  return columns;
}

// An R integer vector as the engine's boundary (NA is refused by the check).
std::vector<int> ints(const Rcpp::IntegerVector& v) { return {v.begin(), v.end()}; }

Rcpp::List runs_frame(const std::vector<stopbound::rule_run>& runs) {
  Rcpp::IntegerVector first(runs.size());
  Rcpp::IntegerVector last(runs.size());
  Rcpp::IntegerVector stop_at(runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    first[i] = runs[i].first;
    last[i] = runs[i].last;
    stop_at[i] = runs[i].stop_at;
  }
  return data_frame(Rcpp::List::create(Rcpp::Named("first") = first, Rcpp::Named("last") = last,
                                      Rcpp::Named("stop_at") = stop_at),
                    static_cast<R_xlen_t>(runs.size()));
}

Rcpp::IntegerVector int_vector(const std::vector<int>& v) { return {v.begin(), v.end()}; }

}  // namespace

// [[Rcpp::export(.sb_design)]]
Rcpp::List sb_design(int K, double theta, double phi, std::string family,
                     Rcpp::IntegerVector looks, int min_events) {
  stopbound::design_request request;
  request.K = K;
  request.theta = theta;
  request.phi = phi;
  request.fam = stopbound::parse_family(family);
  request.looks = ints(looks);
  request.min_events = min_events;
  const stopbound::design d = stopbound::make_design(request);
  Rcpp::RObject next = R_NilValue;
  if (d.next)
    next = Rcpp::List::create(Rcpp::Named("threshold") = d.next->threshold,
                              Rcpp::Named("alpha_used") = d.next->alpha_used,
                              Rcpp::Named("phi_star") = d.next->phi_star,
                              Rcpp::Named("upper") = int_vector(d.next->upper));
  return Rcpp::List::create(
      Rcpp::Named("family") = stopbound::family_text(d.request.fam),
      Rcpp::Named("family_title") = stopbound::family_title(d.request.fam),
      Rcpp::Named("looks") = int_vector(d.request.looks), Rcpp::Named("lower") = int_vector(d.bounds.lower),
      Rcpp::Named("upper") = int_vector(d.bounds.upper), Rcpp::Named("alpha") = d.alpha,
      Rcpp::Named("alpha_used") = d.alpha_used, Rcpp::Named("threshold") = d.threshold,
      Rcpp::Named("phi_star") = d.phi_star, Rcpp::Named("within_bound") = d.within_bound,
      Rcpp::Named("rule") = runs_frame(stopbound::upper_runs(d.bounds.upper)),
      Rcpp::Named("next_boundary") = next);
}

// [[Rcpp::export(.sb_check)]]
Rcpp::List sb_check(Rcpp::IntegerVector lower, Rcpp::IntegerVector upper) {
  const std::vector<int> l = ints(lower);
  const std::vector<int> u = ints(upper);
  stopbound::check_boundary(l, u);
  return Rcpp::List::create(Rcpp::Named("rule") = runs_frame(stopbound::upper_runs(u)),
                            Rcpp::Named("rule_lower") = runs_frame(stopbound::lower_runs(l)));
}

// [[Rcpp::export(.sb_oc)]]
Rcpp::List sb_oc(Rcpp::IntegerVector lower, Rcpp::IntegerVector upper, Rcpp::NumericVector rates) {
  const stopbound::boundary b{ints(lower), ints(upper)};
  const std::vector<double> r(rates.begin(), rates.end());
  const std::vector<stopbound::oc_row> rows = stopbound::operating_characteristics(b, r);
  const auto column = [&](double stopbound::oc_row::*field) {
    Rcpp::NumericVector v(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) v[i] = rows[i].*field;
    return v;
  };
  using row = stopbound::oc_row;
  return data_frame(Rcpp::List::create(
      Rcpp::Named("theta") = column(&row::theta), Rcpp::Named("phi_star") = column(&row::phi_star),
      Rcpp::Named("p_lower") = column(&row::p_lower), Rcpp::Named("mean_y") = column(&row::mean_y),
      Rcpp::Named("sd_y") = column(&row::sd_y), Rcpp::Named("mean_n") = column(&row::mean_n),
      Rcpp::Named("sd_n") = column(&row::sd_n), Rcpp::Named("mean_yn") = column(&row::mean_yn),
      Rcpp::Named("sd_yn") = column(&row::sd_yn)), static_cast<R_xlen_t>(rows.size()));
}

// [[Rcpp::export(.sb_plan)]]
Rcpp::List sb_plan(double theta0, double theta1, double phi, double power, std::string family,
                   int looks_every, int min_events, int k_min, int k_max) {
  stopbound::plan_request request;
  request.theta0 = theta0;
  request.theta1 = theta1;
  request.phi = phi;
  request.power = power;
  request.fam = stopbound::parse_family(family);
  request.looks_every = looks_every;
  request.min_events = min_events;
  request.k_min = k_min;
  request.k_max = k_max;
  const stopbound::plan_result p = stopbound::plan_scan(request);
  const auto rows = static_cast<R_xlen_t>(p.scan.size());
  Rcpp::IntegerVector K(rows);
  Rcpp::NumericVector phi_star(rows), pwr(rows), mean_n0(rows), mean_n1(rows);
  for (R_xlen_t i = 0; i < rows; ++i) {
    const stopbound::plan_entry& e = p.scan[static_cast<std::size_t>(i)];
    K[i] = e.K;
    phi_star[i] = e.phi_star;
    pwr[i] = e.power;
    mean_n0[i] = e.mean_n0;
    mean_n1[i] = e.mean_n1;
  }
  const auto k_or_null = [](const std::optional<int>& k) -> Rcpp::RObject {
    return k ? Rcpp::RObject(Rcpp::wrap(*k)) : Rcpp::RObject(R_NilValue);
  };
  return Rcpp::List::create(
      Rcpp::Named("scan") = data_frame(Rcpp::List::create(Rcpp::Named("K") = K, Rcpp::Named("phi_star") = phi_star,
                                                         Rcpp::Named("power") = pwr, Rcpp::Named("mean_n0") = mean_n0,
                                                         Rcpp::Named("mean_n1") = mean_n1),
                                      rows),
      Rcpp::Named("first_k") = k_or_null(p.first_k), Rcpp::Named("stable_k") = k_or_null(p.stable_k),
      Rcpp::Named("best_k") = p.best_k, Rcpp::Named("best_power") = p.best_power);
}
