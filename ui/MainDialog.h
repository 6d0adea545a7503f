#pragma once
#include "../nocrtlib/NoCrtString.h"
#include "../nocrtlib/NoCrtVector.h"
#include <windows.h>

// The installer's main dialog (resource 103): the licence agreement, the
// installed sites, and where to install: upgrade or replace an existing site,
// a new default site or a new named site, each of which comes down to one
// installation directory. The Install button's caption says which: "Install",
// "Upgrade" or "Replace".
class MainDialog {
public:
    // An installed site as the dialog shows it.
    struct Site {
        WString siteName;
        WString installDir;
        WString version;
    };
    using SiteList = NoCrtVector<Site>;

    // What the caller hands in and reads back; the caller owns everything.
    struct Data {
        bool* agreementAccepted;   // in: the box's first state; out: at every click
        WString* installDir;       // in: the first location; out: the location, in canonical form when it has one
        bool* runControlPanel;     // in: the box's first state; out: when Install is pressed
        const SiteList* sites;     // in only
        // in: why no installation may go into a folder (given in its
        // canonical form), empty when one may; null for no such check.
        WString (*refusedTarget)(const WString& dir) = nullptr;
        // in: where a new site goes when the location names no folder to put
        // it in (empty, or not an absolute path); empty for nowhere.
        WString newSiteParent = WString();
    };

    // Shows the dialog modally, without owner. 1 (IDOK) means install with
    // the record's outputs; anything else means the user did not install.
    // What a window procedure of the dialog throws is rethrown here.
    static INT_PTR Run(Data& data);

    // The controls of the dialog resource (the agreement's two are in
    // AgreementPanel.h).
    enum ControlId {
        kLocation = 1001,
        kWebLink = 1002,
        kLocationLink = 1005,
        kPackageLink = 1006,
        kSeparatorAgreement = 1007,
        kSeparatorButtons = 1008,
        kNamePrefixLabel = 1009,
        kRunControlPanel = 1010,
        kSeparatorTop = 1011,
        kSiteList = 1012,
        kExistingSite = 1013,
        kNewSite = 1014,
        kNewDefaultSite = 1015,
        kNewNamedSite = 1016,
        kSiteName = 1017,
    };

    static constexpr WORD kTemplateId = 103;
    static constexpr WORD kLargeIconId = 117;
    static constexpr WORD kSmallIconId = 119;
    static constexpr WORD kAgreementResource = 129;

    // The dialog procedure, for callers that make the dialog themselves.
    static INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp);
    // The row of the site list drawn highlighted; -1 for none.
    static int HighlightedSite();
    // Why the location cannot be installed into, as the location field's
    // tooltip says it; empty when it can.
    static WString LocationProblem();
};
