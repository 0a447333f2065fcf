// SPDX-License-Identifier: Apache-2.0
#pragma once
// The data-access object: it holds nothing and does nothing yet. One instance lives from
// the start of the process (before the windows) to its end.
class TCommonDao {};
