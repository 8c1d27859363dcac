// Strips of a clip whose pictures are turned or mirrored for showing. The slit is placed on
// the displayed picture; only the stored area behind it is converted (so the pixels stay
// those of a whole-picture conversion), and its pixels are laid into the image turned.
// Upright clips never come here: their strips are plain copies.
#pragma once
#include <cstdint>

#include "composite/exact_strips.h"
#include "host/display_orientation.h"
#include "host/slit_scaler.h"

namespace scan {

class OrientedSlit {
 public:
  // `shown`: the slit on the displayed picture of pictures stored as width x height.
  OrientedSlit(host::Orientation orientation, int width, int height, host::Rect shown);

  // What to convert of each stored picture.
  host::Rect stored() const { return stored_; }

  // Lays `view` (the conversion of stored()) into `image` as strip `index` of `cut`, the
  // slit's lines `shown.width` (vertical) or `shown.height` (horizontal) apart.
  void place(const host::RgbView& view, const composite::BytePlane& image, composite::Cut cut,
             int64_t index) const;

 private:
  host::Rect shown_, stored_;
  host::StoredWalk walk_;
};

}  // namespace scan
