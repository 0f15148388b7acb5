// Returns at once; linked like the bundle's executable, to time a bare start.
int main()
{
    return 0;
}
