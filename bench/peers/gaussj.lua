-- A 12x12 linear system solved by Gauss-Jordan elimination with full
-- pivoting 2,000 times; the matrix is refilled before each solve.
N = 12

function gaussj(a, b, n, m)
    local ipiv, indxr, indxc = {}, {}, {}
    local irow, icol = 1, 1
    for j = 1, n do ipiv[j] = 0 end
    for i = 1, n do
        local big = 0.0
        for j = 1, n do
            if ipiv[j] ~= 1 then
                for k = 1, n do
                    if ipiv[k] == 0 then
                        if math.abs(a[j][k]) >= big then
                            big = math.abs(a[j][k])
                            irow, icol = j, k
                        end
                    elseif ipiv[k] > 1 then
                        return -1
                    end
                end
            end
        end
        ipiv[icol] = ipiv[icol] + 1
        if irow ~= icol then
            a[irow], a[icol] = a[icol], a[irow]
            b[irow], b[icol] = b[icol], b[irow]
        end
        indxr[i], indxc[i] = irow, icol
        if a[icol][icol] == 0.0 then return -1 end
        local pivinv = 1.0 / a[icol][icol]
        a[icol][icol] = 1.0
        local rowc = a[icol]
        for l = 1, n do rowc[l] = rowc[l] * pivinv end
        for l = 1, m do b[icol][l] = b[icol][l] * pivinv end
        for ll = 1, n do
            if ll ~= icol then
                local row = a[ll]
                local dum = row[icol]
                row[icol] = 0.0
                for l = 1, n do row[l] = row[l] - rowc[l] * dum end
                for l = 1, m do b[ll][l] = b[ll][l] - b[icol][l] * dum end
            end
        end
    end
    for l = n, 1, -1 do
        if indxr[l] ~= indxc[l] then
            for k = 1, n do
                local row = a[k]
                row[indxr[l]], row[indxc[l]] = row[indxc[l]], row[indxr[l]]
            end
        end
    end
    return 0
end

res = 0
local a, b
for rep = 1, 2000 do
    a, b = {}, {}
    for i = 0, N - 1 do
        local row = {}
        for j = 0, N - 1 do
            row[j + 1] = 1.0 / (1 + math.abs(i - j)) + (i == j and 12 or 0)
        end
        a[i + 1] = row
        b[i + 1] = {i + 1.0}
    end
    res = gaussj(a, b, N, 1)
end
local parts = {}
for i = 1, N do parts[i] = string.format("%.6f", b[i][1]) end
print(table.concat(parts, " ") .. " " .. string.format("%.6f", res))
