// The request fields of one picture: its path and size, the identity of the user and partner, the
// album, and what the servers told about it (image identifier, upload server, data server, bytes held,
// cookie). The upload messages are filled from it.
//
// Threads: one thread at a time. The queue fills it on the user-interface thread; from then on the
// picture's sender thread alone reads and changes it.
#pragma once

#include "foundation/path.h"

#include <cstdint>
#include <string>

class UploadItemInfo {
public:
    // Also measures the file: its size at this moment, 0 when it cannot be examined.
    void SetPath(std::string path) {
        d_path = std::move(path);
        d_fileSize = static_cast<uint32_t>(::GetFileSize(d_path));
    }
    const std::string& GetPath() const { return d_path; }

    void SetUID(std::string value) { d_uid = std::move(value); }
    const std::string& GetUID() const { return d_uid; }
    void SetAuthenticationID(std::string value) { d_authenticationID = std::move(value); }
    const std::string& GetAuthenticationID() const { return d_authenticationID; }
    void SetPartnerID(std::string value) { d_partnerID = std::move(value); }
    const std::string& GetPartnerID() const { return d_partnerID; }
    void SetPartnerSubID(std::string value) { d_partnerSubID = std::move(value); }
    const std::string& GetPartnerSubID() const { return d_partnerSubID; }
    void SetCampaignID(std::string value) { d_campaignID = std::move(value); }
    const std::string& GetCampaignID() const { return d_campaignID; }
    void SetSessionID(std::string value) { d_sessionID = std::move(value); }
    const std::string& GetSessionID() const { return d_sessionID; }

    uint32_t GetFileSize() const { return d_fileSize; }
    std::string GetFileSizeText() const { return std::to_string(d_fileSize); }

    void SetAlbumID(std::string value) { d_albumID = std::move(value); }
    const std::string& GetAlbumID() const { return d_albumID; }
    void SetAlbumName(std::string value) { d_albumName = std::move(value); }
    const std::string& GetAlbumName() const { return d_albumName; }
    // Sent as "Image.UploadTime"; the engine never sets it.
    void SetUploadTime(std::string value) { d_uploadTime = std::move(value); }
    const std::string& GetUploadTime() const { return d_uploadTime; }
    void SetImageID(std::string value) { d_imageID = std::move(value); }
    const std::string& GetImageID() const { return d_imageID; }

    // Bytes of the picture that the data server holds.
    void SetOffset(uint32_t offset) { d_offset = offset; }
    uint32_t GetOffset() const { return d_offset; }
    std::string GetOffsetText() const { return std::to_string(d_offset); }

    // The "UploadServer" reply field of "GetImageID": a name for the statistics only.
    void SetUploadServer(std::string value) { d_uploadServer = std::move(value); }
    const std::string& GetUploadServer() const { return d_uploadServer; }
    // The "Server" reply field: host[:port] of the data server.
    void SetServer(std::string value) { d_server = std::move(value); }
    const std::string& GetServer() const { return d_server; }
    // The "set-cookie" header of the "GetImageID" reply, as received.
    void SetCookie(std::string value) { d_cookie = std::move(value); }
    const std::string& GetCookie() const { return d_cookie; }

private:
    std::string d_path;
    std::string d_uid;
    std::string d_authenticationID;
    std::string d_partnerID;
    std::string d_partnerSubID;
    std::string d_campaignID;
    std::string d_sessionID;
    uint32_t d_fileSize = 0;
    std::string d_albumID;
    std::string d_albumName;
    std::string d_uploadTime;
    std::string d_imageID;
    uint32_t d_offset = 0;
    std::string d_uploadServer;
    std::string d_server;
    std::string d_cookie;
};
