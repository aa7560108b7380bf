#!/bin/bash
# The share of test code among the C++ lines of the tree: non-blank lines left after // and /* */
# comments are removed, of the git-tracked .cpp and .h files (host/third_party excluded). Test code is
# what lies under tests/. Prints code lines, test lines and the test share.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z -- '*.cpp' '*.h' ':!host/third_party/**' | xargs -0 perl -e '
    my ($all, $tests) = (0, 0);
    for my $file (@ARGV) {
        open(my $in, "<", $file) or die "$file: $!";
        local $/;
        my $text = <$in>;
        # Strings first, so that a "//" or "/*" inside one is not taken for a comment.
        $text =~ s{("(?:\\.|[^"\\\n])*"|\x27(?:\\.|[^\x27\\\n])*\x27)|//[^\n]*|/\*.*?\*/}{
            defined $1 ? $1 : join("", $& =~ /\n/g)
        }gse;
        my $lines = () = $text =~ /^[ \t]*\S/mg;
        $all += $lines;
        $tests += $lines if $file =~ m{^tests/};
    }
    printf "code lines:  %d\ntest lines:  %d\ntest share:  %.1f %%\n", $all - $tests, $tests, 100 * $tests / $all;
' 
