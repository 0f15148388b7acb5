// Calls the engine's entry point directly: the cost of the game start alone.
extern "C" int PlayerMain(int argc, const char** argv);

int main(int argc, char** argv)
{
    return PlayerMain(argc, const_cast<const char**>(argv));
}
