#pragma once

// Answers of message boxes and of the overwrite question, numbered as the program has
// always numbered them (they are stored in the batch runner's LastAnswer).
enum TModalResult {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrNoToAll = 9,  // "Skip All" of the overwrite question
    mrYesToAll = 10 // "Yes to All"
};
