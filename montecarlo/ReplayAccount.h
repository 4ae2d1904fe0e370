// The account of one run flown again alone: its dispersed start in words.
// It heads the printed report of `vtal-sim montecarlo --replay I` and is the
// description of the scenario `--write-scenario` writes, which would
// otherwise keep the undispersed scenario's own description.
#pragma once

#include <string>
#include <vector>

#include "montecarlo/Campaign.h"
#include "montecarlo/RunRecord.h"

namespace vtal::montecarlo {

// Which run of which campaign, then one line per dispersed quantity: its
// value as flown and the offset drawn (and whether it was brought within
// its limits), then the quantities left as the scenario has them.
std::vector<std::string> DispersedStartAccount(const CampaignSetup &setup, const RunRecord &record);

}  // namespace vtal::montecarlo
