#pragma once

// The product's display name: the caption of the wizard, of its message boxes and the title on
// the welcome page and in the About box.
inline constexpr char kDisplayName[] = "tarnvelox";
// The version line of the About box.
inline constexpr char kVersionText[] = "Version 4.0";
