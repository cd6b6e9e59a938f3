// ZANFEL.PROFILES.svg: the profiles of a run's chosen records, one curve of
// one solution component against t per record, drawn from
// ZANFEL.PROFILES.csv as it stands at the run's end (a resumed run's
// profiles included), at the same ends as the picture of the curve.
#pragma once

#include <string>
#include <string_view>

namespace zanfel::profile_picture {

// From now on the run writes profiles and its picture shows `component`.
void Watch(long component);

// Writes the picture when the run writes profiles; false with errno set
// and the path in `failed` when it could not be written.
bool WriteNow(std::string_view program, std::string *failed);

} // namespace zanfel::profile_picture
