#pragma once

struct heif_decoder_plugin;

// libheif's decoder of HEVC pictures replaced: over libde265 as libheif's own is, with the same
// planes and colour description (from the stream), but a picture fails when libde265 warns about
// its data (a slice that ends early, a reference or parameter set that is not there, a bad
// entry point): libheif's own ignores the warnings and hands on the picture libde265 concealed.
// A picture fails too when its data hold another number of pictures than one, or parameter sets
// that state different sizes. Its messages are libde265's own and fixed texts. The plugin is a
// static object; registered once (heif_register_decoder_plugin), above libheif's own.
const heif_decoder_plugin& StrictHevcDecoder();
