#pragma once

#include "formats/ContractSample.h"

// The makers of each kind's samples (samples/), and of its small costly files.
std::vector<ContractSample> JpegSamples();
std::vector<CostlySample> JpegCostlySamples();
std::vector<ContractSample> PngSamples();
std::vector<CostlySample> PngCostlySamples();
std::vector<ContractSample> BmpSamples();
std::vector<CostlySample> BmpCostlySamples();
std::vector<ContractSample> GifSamples();
std::vector<CostlySample> GifCostlySamples();
std::vector<ContractSample> IcoSamples();
std::vector<CostlySample> IcoCostlySamples();
std::vector<ContractSample> TiffSamples();
std::vector<CostlySample> TiffCostlySamples();
std::vector<ContractSample> WebpSamples();
std::vector<CostlySample> WebpCostlySamples();
std::vector<ContractSample> XbmSamples();
std::vector<CostlySample> XbmCostlySamples();
std::vector<ContractSample> NetpbmSamples();
std::vector<CostlySample> NetpbmCostlySamples();
std::vector<ContractSample> MetafileSamples();
std::vector<ContractSample> MngSamples();
std::vector<ContractSample> HeifSamples();
std::vector<CostlySample> HeifCostlySamples();
std::vector<ContractSample> JxlSamples();
std::vector<CostlySample> JxlCostlySamples();
std::vector<ContractSample> RawSamples();
std::vector<CostlySample> RawCostlySamples();
