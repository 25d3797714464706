// The picture-decoding family: empty objects thrown by the picture readers. They carry no code and
// never reach a user as text; callers catch them to fall back (another provider, no thumbnail).
#pragma once

class PXException {
public:
    virtual ~PXException() = default;
};

// A parameter outside what the reader supports (a scale other than 1, 2, 4 or 8, a short row buffer).
class PXInvalidParameterException : public PXException {};

// The data cannot be decoded: not a picture of the format, corrupt, or in a form the reader lacks.
class PXUnsupportedException : public PXException {};

// The reader was asked for something before it was opened.
class PXUninitializedException : public PXException {};

// An operation the reader does not provide.
class PXUnimplementedException : public PXException {};
