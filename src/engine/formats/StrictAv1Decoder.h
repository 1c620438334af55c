#pragma once

struct heif_decoder_plugin;

// libheif's decoder of AV1 pictures chosen for every AV1 picture of a file: libaom, which fails
// a frame whose data end early or hold what they cannot (it checks the trailing bits of every
// tile's symbol decoder), where dav1d, which libheif prefers, decodes such data into a picture
// without a word. libheif's own plugin over libaom would serve the primary picture when asked
// by name, but libheif decodes a grid's tiles and the alpha with the preferred decoder whatever
// it is asked; so this one is registered above dav1d. One thread: more give no time back on
// a one-tile frame. The same planes and colour description as libheif's own; a picture fails
// too when its data hold another number of frames than one. The plugin is a static object.
const heif_decoder_plugin& StrictAv1Decoder();
