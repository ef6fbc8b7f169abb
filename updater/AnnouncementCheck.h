#pragma once
#include <cstdint>
#include <string>

#include "InstallerTrust.h"
#include "UpdateAnnouncement.h"

// What the version file says about the installer it announces, besides its
// version: InstallerSha256 and Signature from section "ServerSoftVersion".
struct Announcement {
    ExpectedInstallerHash installerHash;
    AnnouncementSignature signature;
};

// InstallerSha256 from the version file at path.
ExpectedInstallerHash ReadExpectedInstallerHash(const std::wstring& versionFilePath);

// InstallerSha256 and Signature from the version file at path.
Announcement ReadAnnouncement(const std::wstring& versionFilePath);

// Decides whether an announcement of latestVersion (the number the updater
// read and compared) may be acted on: JudgeAnnouncement, with the platform
// asked about the signature only when every field is well-formed and the
// updater is signed. A refusal is traced to the debugger channel with its
// reason.
AnnouncementVerdict CheckAnnouncement(std::uint32_t latestVersion, const Announcement& announcement,
                                      const FileSignature& updater);
