#!/bin/sh
# The boundary lint against small sources: what it must accept, what it must
# refuse, and the text that only looks like a block.
#
# Usage: boundary_lint_test.sh LINT
set -u

lint=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
count=0

# check WHAT EXPECTED SOURCE [MESSAGE]: the lint passes (0) or fails (1) on
# SOURCE; a failure must name MESSAGE (a FILE:LINE) when one is given.
check() {
  count=$((count + 1))
  file="$work/case$count.mm"
  printf '%s\n' "$3" >"$file"
  output=$(sh "$lint" "$file" 2>&1)
  status=$?
  if [ "$status" -ne "$2" ] || { [ -n "${4:-}" ] && ! printf '%s' "$output" | grep -q "case$count.mm:$4"; }; then
    echo "FAILED: $1 (status $status, expected $2)"
    printf '%s\n' "$output"
    failures=$((failures + 1))
  fi
}

ok='answer::atBoundary([&] { done(); });'

check "an empty block" 0 'dispatch_async(q, ^{
});'
check "a block that runs its work inside the boundary" 0 "run(^(BOOL granted, NSError* _Nullable error) { $ok });"
check "a block with a return type" 0 "auto b = ^NSString* _Nullable (int x) { $ok };"
check "a block type is not a literal" 0 "void (^deliver)(int, BOOL*) = ^(int x, BOOL* stop) { $ok };
typedef void (^Handler)(void);
- (void)call:(void (NS_NOESCAPE ^)(id item))block;"
check "carets in comments, texts, characters and arithmetic" 0 "// ^{ bad(); }
/* ^{ bad(); } */
NSString* s = @\"^{ bad(); }\"; char c = '^'; char q = '\\''; int x = 1'000 ^ y; int z = (a) ^ (b);
run(^{ answer::atBoundary([&] { log(\"} ^{ bad(); }\", '}'); }); });"
check "work outside any boundary" 1 'run(^(BOOL granted) { done(granted); });' 1
check "work before the boundary" 1 "run(^{
  auto rows = read();
  $ok
});" 1
check "work after the boundary" 1 "run(^{ $ok after(); });" 1
check "a boundary call that is not the tool's" 1 'run(^{ other::atBoundary([&] { done(); }); });' 1
check "a nested block without its own boundary" 1 "run(^{ answer::atBoundary([&] {
  dispatch_async(q, ^{ done(); });
}); });" 2
check "a returning block" 1 'auto positive = ^BOOL(int x) { return x > 0; };' 1
check "no block at all" 1 'int x = a ^ b;'

echo "boundary_lint_test: $((count - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
