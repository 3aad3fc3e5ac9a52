#pragma once

// The layout of the journal grid: rows 1 to 4 are the title, the information
// line and the two column-heading rows; the manager's rows follow, the
// manager's row i on grid row kFirstDataRow + i.
inline constexpr int kFirstDataRow = 5;
