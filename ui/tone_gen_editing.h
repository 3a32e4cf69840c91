// What the Tone generator window does to its component beyond setting single properties: start
// again from the defaults, read and write the stored form as a settings file, and export the tone
// the current settings make. Plain functions over TToneGen; no windows.
#pragma once

#include <string>
#include <string_view>

#include "tone_gen.h"

// Every property back to the component's default, each through its setter, and the AM table as
// ResetAM leaves it; the name and the note octaves stay.
void ResetToneGenProperties(TToneGen& gen);

// Applies a stored form (stored_form.h) as a settings file means it: the properties it leaves out
// take their defaults. The whole text is read into a scratch component first, so a text with an
// error ("line 3: ...") changes nothing. The component keeps its own name. Stops any sound of
// the sound service (the scratch component's end does).
bool LoadToneGenSettings(TToneGen& gen, std::string_view text, std::string* error);

// Writes the component's stored form to path; an older file stays whole until the new one is
// complete (replace_file.h).
bool SaveToneGenSettings(const TToneGen& gen, const std::string& path);

// Writes, through ExportFile, the image the current settings give, plain or enveloped. The image
// in hand is written as it is when it already is that rendering (so a sound playing from it plays
// on); otherwise the component renders it first, which stops any sound. False when no image
// could be had or the file could not be written; an older file is then left as it was.
bool ExportTone(TToneGen& gen, bool enveloped, const std::string& path);
