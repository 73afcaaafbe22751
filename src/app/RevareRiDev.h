#pragma once

namespace rszorvik {

// The program's entry: process-wide settings, the application object and the window's start.
class RevareRiDev {
  public:
    // Qt could not open its platform (no display): the window cannot start.
    static constexpr int kNoDisplayStatus = 3;

    // Answers the process's exit status.
    static int main(int argc, char** argv);

    // The process properties the program sets before anything else, as zorvik-cli does.
    static void setProcessProperties();
};

}  // namespace rszorvik
