#include "tools/printer/lineup.h"

#include <algorithm>
#include <utility>

namespace printer {

Lineup::Lineup(LineupConfig config, std::int64_t now) : config_(std::move(config)), single_(config_.serials.empty()) {
  const std::vector<std::string> serials = single_ ? std::vector<std::string>{config_.printer.serial} : config_.serials;
  const std::vector<std::uint32_t>& f = config_.fault_on;
  for (std::size_t i = 0; i < serials.size(); ++i) {
    PrinterRecord r;
    r.serial = serials[i];
    r.faulty = !(config_.printer.faults == Faults{}) && (f.empty() || std::find(f.begin(), f.end(), i + 1) != f.end());
    records_.push_back(r);
  }
  off_at_ = now;
  power_on(0);  // the first printer is on from the start
}

std::string Lineup::name(std::size_t i) const {
  return "printer " + std::to_string(i + 1) + " (" + records_[i].serial + ")";
}

void Lineup::power_on(std::size_t i) {
  Config c = config_.printer;
  c.serial = records_[i].serial;
  if (!records_[i].faulty) c.faults = Faults{};
  machine_.emplace(std::move(c));
  current_ = i;
  next_ = i + 1;
  failed_ = false;
  removal_due_ = kNever;
  records_[i].power = Power::kOn;
  ++changes_;
  if (!single_) events_.push_back(name(i) + " on");
}

void Lineup::power_off(std::int64_t now, const std::string& why) {
  if (machine_->active()) {
    machine_->abandon("the printer was switched off");
    collect(now);
  }
  for (std::string& e : machine_->take_events()) events_.push_back(std::move(e));
  machine_.reset();
  records_[current_].power = Power::kOff;
  off_at_ = now;
  ++changes_;
  events_.push_back(name(current_) + " off: " + why);
  if (done() && !single_) events_.push_back("the line's last printer is off");
}

void Lineup::tick(std::int64_t now) {
  if (machine_ && now >= removal_due_) {
    power_off(removal_due_, "taken away after its failed update");  // the next printer's gap counts from then
  } else if (!machine_ && next_ < records_.size() && now >= off_at_ + config_.gap_ns) {
    power_on(next_);
  }
}

void Lineup::port_closed(std::int64_t now) {
  if (!machine_) return;
  if (machine_->active()) {
    machine_->abandon("the updater closed the port");
    collect(now);
  }
  if (machine_ && failed_ && removal_due_ == kNever) removal_due_ = now + config_.off_after_failure_ns;
}

void Lineup::collect(std::int64_t now) {
  if (!machine_) return;
  for (std::string& e : machine_->take_events()) events_.push_back(std::move(e));
  std::optional<Result> r = machine_->take_result();
  if (!r) return;
  PrinterRecord& p = records_[current_];
  const bool removed = machine_->removed();
  if (r->attempted) {
    ++p.attempts;
    p.stats = r->stats;
    p.outcome = r->ok ? "update ok" : removed ? r->reason : "update failed: " + r->reason;
    ++changes_;
  }
  const bool ok = r->ok;
  const std::string reason = r->reason;
  // A printer that only answered identification queries has not failed: the updater may still
  // come to update it. One whose update failed, or that could not even answer the query, stays
  // on the line until the operator takes it away.
  const bool failed = !ok && (r->attempted || r->query_fault);
  results_.push_back(std::move(*r));
  if (removed) {
    power_off(now, reason);
  } else if (single_) {
    return;
  } else if (ok) {
    power_off(now, "WAIT sent");
  } else if (failed && !failed_) {
    failed_ = true;
    if (!config_.close_visible) removal_due_ = now + config_.off_after_failure_ns;
  }
}

std::optional<Result> Lineup::take_result(std::int64_t now) {
  collect(now);
  if (results_.empty()) return std::nullopt;
  Result r = std::move(results_.front());
  results_.pop_front();
  return r;
}

std::vector<std::string> Lineup::take_events() {
  if (machine_)
    for (std::string& e : machine_->take_events()) events_.push_back(std::move(e));
  return std::exchange(events_, {});
}

std::int64_t Lineup::next_due() const {
  if (machine_) return removal_due_;
  if (next_ < records_.size()) return off_at_ + config_.gap_ns;
  return kNever;
}

}  // namespace printer
