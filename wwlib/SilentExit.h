#pragma once

// Ends the run with an exit code; unfinished install steps roll back on the
// way out and the entry prints nothing more (except the usage text for 200 and
// 201 while the command line is read). Deliberately outside the exception
// tree so no handler for failures catches it.
class SilentExit {
public:
    explicit SilentExit(int code) : code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};
