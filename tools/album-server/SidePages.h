// SPDX-License-Identifier: Apache-2.0
#pragma once
// The small texts around the albums: the link list, the pages it points to, the
// information page (shown in a 177x185 embedded browser, so compact and self-contained)
// and the service's own index page. All UTF-8.
#include "Catalogue.h"

#include <string>
#include <string_view>

// Five caption|address pairs joined by bars, no trailing bar or line end. The addresses
// are the service's own /links/<n>.html pages under baseUrl.
std::string DefaultLinkList(std::string_view baseUrl);
// Page n of the link list, n = 1..5; empty for any other n.
std::string LinkPage(int n);
std::string InfoPage();
// Lists every album with its viewer address and purpose, for people trying the service.
std::string IndexPage(const Catalogue& catalogue, std::string_view baseUrl);
// The address a user pastes into the program for this album.
std::string ViewerAddress(std::string_view baseUrl, const AlbumSpec& album);
