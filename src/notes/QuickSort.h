#pragma once
// The one quicksort every sort of the analyser and of recognition uses. Its exact
// order for equal keys matters (equal swings keep whatever order it leaves), so it is
// written out rather than taken from the standard library.
//   key(i)          the sort key of row i
//   before(a, b)    true when key a sorts before key b
//   swapRows(i, j)  exchanges rows i and j together with any companion values

template <typename Key, typename Before, typename SwapRows>
void quickSort(int lo, int hi, Key key, Before before, SwapRows swapRows)
{
    const auto pivot = key((lo + hi) / 2);
    int i = lo;
    int j = hi;
    do {
        while (before(key(i), pivot))
            ++i;
        while (before(pivot, key(j)))
            --j;
        if (i <= j) {
            swapRows(i, j);
            ++i;
            --j;
        }
    } while (i <= j);
    if (lo < j)
        quickSort(lo, j, key, before, swapRows);
    if (i < hi)
        quickSort(i, hi, key, before, swapRows);
}
