#pragma once

#include "formats/ContractSample.h"

// The makers of each kind's samples (samples/), and of its small costly files.
std::vector<ContractSample> JpegSamples();
std::vector<CostlySample> JpegCostlySamples();
std::vector<ContractSample> PngSamples();
std::vector<CostlySample> PngCostlySamples();
std::vector<ContractSample> RawSamples();
std::vector<CostlySample> RawCostlySamples();
